# skyvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable per subsystem. Each makes its own scratch home before
# anything asks for a path (tests/support/testmain.h), so running one by hand
# never touches the user's files; CTest adds nothing but a time limit.
function(skyvane_add_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE skyvane_flags Qt6::Test skyvane_test_support ${ARG_LIBS})
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
    set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;LANG=C.UTF-8")
endfunction()
