# SPDX-FileCopyrightText: 2026 Orvane
# SPDX-License-Identifier: GPL-3.0-or-later

# orvane_compile_schemas(TARGET target DIR output-dir FILES schema.xml...)
# Copies the schema files into DIR and compiles them there, as the build target
# TARGET, so that GSETTINGS_SCHEMA_DIR can point at DIR.
find_program(GLIB_COMPILE_SCHEMAS glib-compile-schemas REQUIRED)

function(orvane_compile_schemas)
    cmake_parse_arguments(ARG "ALL" "TARGET;DIR" "FILES" ${ARGN})
    add_custom_command(
        OUTPUT ${ARG_DIR}/gschemas.compiled
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy ${ARG_FILES} ${ARG_DIR}
        COMMAND ${GLIB_COMPILE_SCHEMAS} --strict ${ARG_DIR}
        DEPENDS ${ARG_FILES}
        COMMENT "Compiling GSettings schemas in ${ARG_DIR}")
    if(ARG_ALL)
        add_custom_target(${ARG_TARGET} ALL DEPENDS ${ARG_DIR}/gschemas.compiled)
    else()
        add_custom_target(${ARG_TARGET} DEPENDS ${ARG_DIR}/gschemas.compiled)
    endif()
endfunction()
