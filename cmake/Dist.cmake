# The `dist` folder: everything a Windows developer needs, laid out as an install tree and usable
# as it is:
#   bin/      kelmor.dll, the engine's DLLs it loads, kelmor-listen.exe, kelmor-pack.exe
#   include/  kelmor.h
#   lib/      libkelmor.dll.a (import library), kelmor.def, CMake package and pkg-config files
#   README.txt
# Part of the default build, so that the tests run what is shipped.
set(KELMOR_DIST_DIR "${CMAKE_BINARY_DIR}/dist/kelmor-${PROJECT_VERSION}-win64")

install(FILES "${PROJECT_SOURCE_DIR}/cmake/dist-README.txt" DESTINATION . RENAME README.txt)

add_custom_target(dist ALL
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${KELMOR_DIST_DIR}"
    COMMAND "${CMAKE_COMMAND}" --install "${CMAKE_BINARY_DIR}" --prefix "${KELMOR_DIST_DIR}"
            --strip
    COMMENT "Gathering the dist folder in ${KELMOR_DIST_DIR}"
    VERBATIM)
add_dependencies(dist kelmor kelmor-pack kelmor-listen sherpa_onnx_runtime)
