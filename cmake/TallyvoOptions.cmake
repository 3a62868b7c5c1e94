# The one options target every library, program and test links.
add_library(tallyvo_options INTERFACE)
target_compile_features(tallyvo_options INTERFACE cxx_std_20)
target_compile_options(tallyvo_options INTERFACE
    -Wall -Wextra -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
if(TALLYVO_WERROR)
    target_compile_options(tallyvo_options INTERFACE -Werror)
endif()
target_compile_definitions(tallyvo_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_CONTEXTLESS_CONNECT)
target_include_directories(tallyvo_options INTERFACE ${CMAKE_SOURCE_DIR}/src)

# tallyvo_add_test(<name> SOURCES <files...> LIBS <targets...> [DB] [XVFB])
# One test program per unit. DB registers it once per engine: always SQLite, and PostgreSQL too
# when the run names a server in TALLYVO_TEST_PG. XVFB runs it on the X display of the test run
# instead of the offscreen platform.
function(tallyvo_add_test name)
    cmake_parse_arguments(T "DB;XVFB" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE tallyvo_options tallyvo_testsupport Qt6::Test ${T_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    get_filename_component(subsystem ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    if(T_XVFB)
        set(platform "")
    else()
        set(platform "QT_QPA_PLATFORM=offscreen")
    endif()
    if(T_DB)
        add_test(NAME ${subsystem}.${name}.sqlite COMMAND ${name})
        set_tests_properties(${subsystem}.${name}.sqlite PROPERTIES
            ENVIRONMENT "TALLYVO_TEST_ENGINE=sqlite;${platform}" LABELS "sqlite;${subsystem}" TIMEOUT 600)
        add_test(NAME ${subsystem}.${name}.pg COMMAND ${name})
        set_tests_properties(${subsystem}.${name}.pg PROPERTIES
            ENVIRONMENT "TALLYVO_TEST_ENGINE=pg;${platform}" LABELS "pg;${subsystem}" TIMEOUT 600
            SKIP_RETURN_CODE 77)
    else()
        add_test(NAME ${subsystem}.${name} COMMAND ${name})
        set_tests_properties(${subsystem}.${name} PROPERTIES
            ENVIRONMENT "${platform}" LABELS "${subsystem}" TIMEOUT 600)
    endif()
endfunction()
