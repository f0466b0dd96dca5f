# Shared build settings and the helpers every module's CMakeLists uses.

find_package(Threads REQUIRED)
if(NOT WIN32 AND NOT ZAMBREL_WEB)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET GLOBAL sdl2)
endif()

add_library(zambrel_options INTERFACE)
target_include_directories(zambrel_options INTERFACE
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_options(zambrel_options INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra>)
if(ZAMBREL_SANITIZE)
    target_compile_options(zambrel_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(zambrel_options INTERFACE -fsanitize=address,undefined)
endif()

# zambrel_module(NAME DIR [DEPS libs...]): a static library of every .cpp in DIR.
# A module without sources yet is an interface library, so dependants still link.
function(zambrel_module name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(sources)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PUBLIC zambrel_options ${ARG_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE zambrel_options ${ARG_DEPS})
    endif()
endfunction()

# zambrel_test(NAME [X_SERVER] SOURCES... LIBS libs... [LABELS labels...]): one GoogleTest
# executable, registered as one CTest test. Label "unit" marks the tests that also run
# sanitized. X_SERVER marks a test that uses the X server ./dev test starts: such tests run
# one at a time, since windows of two of them would take the keyboard focus from each other.
function(zambrel_test name)
    cmake_parse_arguments(ARG "X_SERVER" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE zambrel_options ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 900)
    if(ARG_X_SERVER)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x_server)
    endif()
endfunction()
