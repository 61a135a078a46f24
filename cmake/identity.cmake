# Writes the module's identity header, generated/identity.h in the build
# folder, from the project's version and the list of classes in
# CMakeLists.txt (QB_CLASSES: each class's name in the code, the name of its
# registry text, its identifier). The module's code, its resource script,
# the registration table, the tests and tools/check_module.py all read it.

set(body "")
list(LENGTH QB_CLASSES count)
math(EXPR last "${count} - 1")
foreach(at RANGE 0 ${last} 3)
    math(EXPR text_at "${at} + 1")
    math(EXPR id_at "${at} + 2")
    list(GET QB_CLASSES ${at} name)
    list(GET QB_CLASSES ${text_at} text_name)
    list(GET QB_CLASSES ${id_at} id)
    string(TOUPPER "${id}" id)
    # Five groups of hexadecimal digits, of 8, 4, 4, 4 and 12 digits.
    string(REPLACE "-" ";" parts "${id}")
    set(lengths "")
    foreach(part IN LISTS parts)
        string(LENGTH "${part}" length)
        list(APPEND lengths ${length})
    endforeach()
    if(NOT id MATCHES "^[0-9A-F-]+$" OR NOT lengths STREQUAL "8;4;4;4;12")
        message(FATAL_ERROR "${name}: ${id} is not a class identifier")
    endif()
    list(GET parts 0 data1)
    list(GET parts 1 data2)
    list(GET parts 2 data3)
    list(GET parts 3 first_bytes)
    list(GET parts 4 last_bytes)
    set(bytes "")
    foreach(offset RANGE 0 14 2)
        string(SUBSTRING "${first_bytes}${last_bytes}" ${offset} 2 byte)
        list(APPEND bytes "0x${byte}")
    endforeach()
    list(JOIN bytes ", " bytes)
    string(APPEND texts "constexpr char ${text_name}[] = \"{${id}}\";\n")
    string(APPEND binaries "inline constexpr CLSID ${name} = {\n"
           "    0x${data1}, 0x${data2}, 0x${data3}, {${bytes}}};\n")
endforeach()

set(QB_IDENTITY_TEXTS "${texts}")
set(QB_IDENTITY_BINARIES "${binaries}")
set(QB_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/identity.h.in ${QB_GENERATED_DIR}/identity.h @ONLY)
