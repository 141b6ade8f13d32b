// Test support on Windows, which has no file-system path for an anonymous pipe and no default
// thread attributes to make thread creation fail with.
#include "test_support.h"

UnseekableFile::UnseekableFile() = default;

UnseekableFile::~UnseekableFile() = default;

ThreadStartBlocker::ThreadStartBlocker() = default;

ThreadStartBlocker::~ThreadStartBlocker() = default;
