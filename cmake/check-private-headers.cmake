# Proves that a folder's private headers stay its own: run by CTest as
#   cmake -DCOMPILER=<c++> -DPROBES=<dir> -DFOLDERS=<a|b|...> -DPRIVATE_<a>=<headers|...>
#         -DINCLUDES_<a>=<include dirs|...> ... -P check-private-headers.cmake
# (lists joined by |, since a ; would split the argument on its way here).
# For every folder's library, each private header of every other folder must not be found
# with that library's include paths, and each of its own must be (so that a probe cannot pass
# only because its command line is broken).
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY ${PROBES})
string(REPLACE "|" ";" FOLDERS "${FOLDERS}")
set(failures)
foreach(consumer IN LISTS FOLDERS)
  string(REPLACE "|" ";" dirs "${INCLUDES_${consumer}}")
  list(TRANSFORM dirs PREPEND "-I")
  foreach(owner IN LISTS FOLDERS)
    string(REPLACE "|" ";" headers "${PRIVATE_${owner}}")
    foreach(header IN LISTS headers)
      string(MAKE_C_IDENTIFIER "${consumer}_${header}" probe)
      file(WRITE ${PROBES}/${probe}.cpp "#include \"${header}\"\n")
      execute_process(
        COMMAND ${COMPILER} -std=c++20 -E ${dirs} ${PROBES}/${probe}.cpp -o /dev/null
        RESULT_VARIABLE result ERROR_VARIABLE errors)
      string(FIND "${errors}" "${header}" named)
      if(result EQUAL 0)
        set(found TRUE)
      elseif(named GREATER_EQUAL 0 AND errors MATCHES "No such file|file not found")
        set(found FALSE)
      else()
        list(APPEND failures "${consumer}: ${header} fails otherwise:\n${errors}")
        continue()
      endif()
      if(owner STREQUAL consumer AND NOT found)
        list(APPEND failures "${consumer} cannot include its own ${header}")
      elseif(NOT owner STREQUAL consumer AND found)
        list(APPEND failures "${consumer} can include ${owner}'s private ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
