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

# The DLL or shared object itself, and in front of it the target everything links, which on
# Windows also makes sure the import library is built first.
add_library(sherpa_onnx_c_api_library SHARED IMPORTED GLOBAL)
set_target_properties(sherpa_onnx_c_api_library PROPERTIES IMPORTED_LOCATION "${_sherpa_library}")
add_library(sherpa_onnx_c_api INTERFACE)
target_link_libraries(sherpa_onnx_c_api INTERFACE sherpa_onnx_c_api_library)
add_library(SherpaOnnx::c_api ALIAS sherpa_onnx_c_api)

if(WIN32)
    # The package ships no import library: the build makes one from the DLL's export table.
    set(_sherpa_def "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.def")
    if(MSVC)
        # dumpbin lists the exports ("ordinal hint RVA name"), lib makes the import library.
        set(_sherpa_implib "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.lib")
        get_filename_component(_msvc_bin "${CMAKE_LINKER}" DIRECTORY)
        find_program(DUMPBIN_EXECUTABLE dumpbin HINTS "${_msvc_bin}" REQUIRED)
        find_program(LIB_EXECUTABLE lib HINTS "${_msvc_bin}" REQUIRED)
        add_custom_command(OUTPUT "${_sherpa_implib}"
            COMMAND "${CMAKE_COMMAND}" -D "DUMPBIN=${DUMPBIN_EXECUTABLE}"
                    -D "DLL=${_sherpa_library}" -D "DEF=${_sherpa_def}"
                    -P "${CMAKE_CURRENT_LIST_DIR}/DefFromDumpbin.cmake"
            COMMAND "${LIB_EXECUTABLE}" /NOLOGO /MACHINE:X64 "/DEF:${_sherpa_def}"
                    "/OUT:${_sherpa_implib}"
            DEPENDS "${_sherpa_library}" "${CMAKE_CURRENT_LIST_DIR}/DefFromDumpbin.cmake"
            COMMENT "Making the import library of sherpa-onnx-c-api.dll"
            VERBATIM)
    else()
        set(_sherpa_implib "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.dll.a")
        find_program(GENDEF_EXECUTABLE gendef REQUIRED)
        find_program(DLLTOOL_EXECUTABLE x86_64-w64-mingw32-dlltool REQUIRED)
        # gendef warns about symbols it cannot type; the names are all the import library needs.
        add_custom_command(OUTPUT "${_sherpa_implib}"
            COMMAND "${GENDEF_EXECUTABLE}" - "${_sherpa_library}" > "${_sherpa_def}"
                    2> "${CMAKE_BINARY_DIR}/sherpa-onnx-c-api.gendef.log"
            COMMAND "${DLLTOOL_EXECUTABLE}" -d "${_sherpa_def}" -D sherpa-onnx-c-api.dll
                    -l "${_sherpa_implib}"
            DEPENDS "${_sherpa_library}"
            COMMENT "Making the import library of sherpa-onnx-c-api.dll"
            VERBATIM)
    endif()
    add_custom_target(sherpa_onnx_import_library DEPENDS "${_sherpa_implib}")
    set_target_properties(sherpa_onnx_c_api_library PROPERTIES IMPORTED_IMPLIB "${_sherpa_implib}")
    add_dependencies(sherpa_onnx_c_api sherpa_onnx_import_library)
endif()

set(SHERPA_ONNX_RUNTIME_FILES "")
foreach(_file IN LISTS _sherpa_runtime_files)
    list(APPEND SHERPA_ONNX_RUNTIME_FILES "${SHERPA_ONNX_DIR}/${_file}")
endforeach()

add_custom_target(sherpa_onnx_runtime
    COMMAND ${CMAKE_COMMAND} -E make_directory "${KELMOR_OUTPUT_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${SHERPA_ONNX_RUNTIME_FILES} "${KELMOR_OUTPUT_DIR}"
    COMMENT "Copying the sherpa-onnx runtime beside the library")
