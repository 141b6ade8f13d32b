// Test support that needs the POSIX interface.
#include <pthread.h>
#include <unistd.h>

#include <cstdint>

#include "test_support.h"

UnseekableFile::UnseekableFile() {
    if (pipe(fds_) == 0) {
        path_ = "/proc/self/fd/" + std::to_string(fds_[0]);
    }
}

UnseekableFile::~UnseekableFile() {
    for (const int fd : fds_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// A default stack larger than the address space makes every new thread fail.
ThreadStartBlocker::ThreadStartBlocker() {
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) != 0) {
        return;
    }
    pthread_attr_getstacksize(&attr, &saved_stack_);
    pthread_attr_destroy(&attr);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, SIZE_MAX / 2);
    active_ = pthread_setattr_default_np(&huge) == 0;
    pthread_attr_destroy(&huge);
}

ThreadStartBlocker::~ThreadStartBlocker() {
    if (!active_) {
        return;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, saved_stack_);
    pthread_setattr_default_np(&attr);
    pthread_attr_destroy(&attr);
}
