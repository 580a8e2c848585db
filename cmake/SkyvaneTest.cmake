# skyvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable per subsystem; each runs with its own scratch HOME and
# XDG folders so that no test ever touches the user's files.
function(skyvane_add_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE skyvane_flags Qt6::Test ${ARG_LIBS})
    set(home ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.home)
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
    set_tests_properties(${ARG_NAME} PROPERTIES
        TIMEOUT 300
        ENVIRONMENT "HOME=${home};XDG_DATA_HOME=${home}/.local/share;XDG_CONFIG_HOME=${home}/.config;QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8")
endfunction()
