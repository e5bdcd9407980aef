# Run by cpack on the staged files of the Debian packages, before they are
# packed: strips every ELF file as Debian's dh_strip does (no debugging
# information or symbol table, no .comment and .note sections; shared
# libraries keep the symbols needed for relocation).
file(GLOB_RECURSE _staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_file IN LISTS _staged)
    if(IS_SYMLINK "${_file}")
        continue()
    endif()
    file(READ "${_file}" _magic LIMIT 4 HEX)
    if(NOT _magic STREQUAL "7f454c46")
        continue()
    endif()
    set(_options --remove-section=.comment --remove-section=.note)
    if(_file MATCHES "\\.so(\\.[0-9.]+)?$")
        list(APPEND _options --strip-unneeded)
    endif()
    execute_process(COMMAND "${CPACK_ZELMOR_STRIP}" ${_options} "${_file}" RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
        message(FATAL_ERROR "strip failed on ${_file}")
    endif()
    message(STATUS "Stripped ${_file}")
endforeach()
