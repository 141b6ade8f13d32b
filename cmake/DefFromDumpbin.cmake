# cmake -D DUMPBIN=... -D DLL=... -D DEF=... -P DefFromDumpbin.cmake
# Writes a module-definition file listing the exports of DLL, as dumpbin reports them.
execute_process(COMMAND "${DUMPBIN}" /NOLOGO /EXPORTS "${DLL}"
    OUTPUT_VARIABLE exports COMMAND_ERROR_IS_FATAL ANY)
# Export lines read "ordinal hint RVA name".
string(REGEX MATCHALL "\n +[0-9]+ +[0-9A-Fa-f]+ +[0-9A-Fa-f]+ +[A-Za-z_][A-Za-z0-9_]*" lines
    "${exports}")
get_filename_component(name "${DLL}" NAME)
set(text "LIBRARY ${name}\nEXPORTS\n")
foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* ([A-Za-z_][A-Za-z0-9_]*)$" "\\1" symbol "${line}")
    string(APPEND text "    ${symbol}\n")
endforeach()
file(WRITE "${DEF}" "${text}")
