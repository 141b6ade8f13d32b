# The prebuilt sherpa-onnx C API library as an imported target, and a target that copies it (and
# the onnxruntime library it loads) beside our outputs.
if(WIN32)
    set(_sherpa_runtime_files sherpa-onnx-c-api.dll onnxruntime.dll onnxruntime_providers_shared.dll)
    set(_sherpa_library "${SHERPA_ONNX_DIR}/sherpa-onnx-c-api.dll")
else()
    set(_sherpa_runtime_files libsherpa-onnx-c-api.so libonnxruntime.so)
    set(_sherpa_library "${SHERPA_ONNX_DIR}/libsherpa-onnx-c-api.so")
endif()

if(NOT EXISTS "${_sherpa_library}")
    message(FATAL_ERROR "sherpa-onnx not found in ${SHERPA_ONNX_DIR}; run scripts/setup.sh first")
endif()

add_library(SherpaOnnx::c_api SHARED IMPORTED GLOBAL)
set_target_properties(SherpaOnnx::c_api PROPERTIES IMPORTED_LOCATION "${_sherpa_library}")
if(WIN32)
    # The package ships no import library: make one from the DLL's exports.
    set(_sherpa_implib "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.dll.a")
    if(NOT EXISTS "${_sherpa_implib}")
        find_program(GENDEF_EXECUTABLE gendef REQUIRED)
        find_program(DLLTOOL_EXECUTABLE x86_64-w64-mingw32-dlltool REQUIRED)
        execute_process(COMMAND "${GENDEF_EXECUTABLE}" - "${_sherpa_library}"
            OUTPUT_FILE "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.def"
            ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
        execute_process(COMMAND "${DLLTOOL_EXECUTABLE}"
            -d "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.def" -D sherpa-onnx-c-api.dll
            -l "${_sherpa_implib}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
    set_target_properties(SherpaOnnx::c_api PROPERTIES IMPORTED_IMPLIB "${_sherpa_implib}")
endif()

set(SHERPA_ONNX_RUNTIME_FILES "")
foreach(_file IN LISTS _sherpa_runtime_files)
    list(APPEND SHERPA_ONNX_RUNTIME_FILES "${SHERPA_ONNX_DIR}/${_file}")
endforeach()

add_custom_target(sherpa_onnx_runtime
    COMMAND ${CMAKE_COMMAND} -E make_directory "${KELMOR_OUTPUT_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${SHERPA_ONNX_RUNTIME_FILES} "${KELMOR_OUTPUT_DIR}"
    COMMENT "Copying the sherpa-onnx runtime beside the library")
