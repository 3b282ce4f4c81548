# Makes the C interface's module definition file and the import library
# other linkers read (MSVC's link.exe, lld-link) from the exports the DLL
# was linked with: only the qvb_ functions, which have undecorated names;
# the C++ classes' GCC names are of no use to another compiler.
#   cmake -DALL_DEF=... -DDEF=... -DLIB=... -DDLL=NAME.dll -DDLLTOOL=... -P c_import_library.cmake
file(STRINGS ${ALL_DEF} lines)
set(exports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*(qvb_[a-z0-9_]+)([ \t@]|$)")
    string(APPEND exports "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
if(exports STREQUAL "")
  message(FATAL_ERROR "${ALL_DEF} lists no qvb_ function")
endif()
file(WRITE ${DEF}.tmp "LIBRARY ${DLL}\nEXPORTS\n${exports}")
file(RENAME ${DEF}.tmp ${DEF})
execute_process(COMMAND ${DLLTOOL} -m i386:x86-64 -d ${DEF} -D ${DLL} -l ${LIB}.tmp RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not make ${LIB}")
endif()
file(RENAME ${LIB}.tmp ${LIB})
