# ZELMOR_DEVICE_EXPORTS: bind the MSVC build to the export names of the maker's
# own device library (docs/device-binding.md). The file is the maker's
# ZelmorDSCLibrary.dll, its import library or a list of its exports.
# scripts/device_exports.py checks every operation the module imports against
# it; when each one is exported, under our name or under one that differs only
# in ways that leave the x64 call as it is, the module links an import library
# made from the maker's names, and /ALTERNATENAME points each of our names at
# the maker's, so the DLL's import table names the maker's exports and the
# module's code stays as it is. Any other outcome stops the configuration with
# the table. Without the option the link stub gives the import library.
set(ZELMOR_DEVICE_EXPORTS "" CACHE FILEPATH
    "The maker's ZelmorDSCLibrary.dll, .lib or export list: check it and import its own names (MSVC builds)")

function(zelmor_bind_device_library target)
    if(NOT ZELMOR_DEVICE_EXPORTS)
        target_link_libraries(${target} PRIVATE ZelmorDSCLinkStub)
        return()
    endif()
    if(NOT MSVC)
        message(FATAL_ERROR "ZELMOR_DEVICE_EXPORTS binds the MSVC build (presets windows-msvc*) to the maker's "
            "library; this build uses ${CMAKE_CXX_COMPILER_ID}")
    endif()
    get_filename_component(exports "${ZELMOR_DEVICE_EXPORTS}" ABSOLUTE)
    if(NOT EXISTS "${exports}")
        message(FATAL_ERROR "ZELMOR_DEVICE_EXPORTS: ${exports} does not exist")
    endif()
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(dir ${PROJECT_BINARY_DIR}/device-binding)
    file(MAKE_DIRECTORY ${dir})
    file(REMOVE ${dir}/bindings.txt)
    execute_process(
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/device_exports.py ${exports}
            --bindings ${dir}/bindings.txt
        RESULT_VARIABLE failed OUTPUT_VARIABLE table ERROR_VARIABLE errors)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${exports}
        ${PROJECT_SOURCE_DIR}/scripts/msvc/expected_device_imports.txt)
    if(failed)
        # Indented lines are printed as they are, not refilled.
        string(REGEX REPLACE "\n([^\n])" "\n  \\1" table "  ${table}${errors}")
        message(FATAL_ERROR "ZELMOR_DEVICE_EXPORTS=${exports}: the module cannot bind to this device library.\n"
            "${table}")
    endif()
    message(STATUS "Device library exports of ${exports}:\n${table}")

    file(STRINGS ${dir}/bindings.txt bindings)
    set(definitions "LIBRARY ZelmorDSCLibrary.dll\nEXPORTS\n")
    set(aliases)
    foreach(binding IN LISTS bindings)
        string(REPLACE " " ";" names "${binding}")
        list(GET names 0 ours)
        list(GET names 1 theirs)
        string(APPEND definitions "    ${theirs}\n")
        if(NOT ours STREQUAL theirs)
            list(APPEND aliases "/ALTERNATENAME:__imp_${ours}=__imp_${theirs}")
        endif()
    endforeach()
    file(WRITE ${dir}/ZelmorDSCLibrary.def "${definitions}")
    find_program(ZELMOR_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool)
    if(ZELMOR_DLLTOOL)
        set(make_library ${ZELMOR_DLLTOOL} -m i386:x86-64 -d ${dir}/ZelmorDSCLibrary.def -l ${dir}/ZelmorDSCLibrary.lib)
    else()
        set(make_library ${CMAKE_AR} /nologo /machine:x64 /def:${dir}/ZelmorDSCLibrary.def
            /out:${dir}/ZelmorDSCLibrary.lib)
    endif()
    execute_process(COMMAND ${make_library} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "ZELMOR_DEVICE_EXPORTS: ${make_library} failed")
    endif()
    # The decorated names hold '$' and '?', which build tools' shells would
    # expand: the options go to the linker in a response file.
    string(REPLACE ";" "\n" aliases "${aliases}")
    file(WRITE ${dir}/alternatenames.rsp "${aliases}\n")
    target_link_libraries(${target} PRIVATE ${dir}/ZelmorDSCLibrary.lib)
    target_link_options(${target} PRIVATE @${dir}/alternatenames.rsp)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${dir}/alternatenames.rsp)
endfunction()
