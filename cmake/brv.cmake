# Shared build settings and helpers for the layer libraries and their tests.

add_library(brv_options INTERFACE)
target_compile_options(brv_options INTERFACE -Wall -Wextra -Wpedantic)
if(BRV_WERROR)
  target_compile_options(brv_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports impossible overlaps in inlined std::string concatenation (its bug 105651);
  # the warning says nothing about our code there.
  target_compile_options(brv_options INTERFACE -Wno-restrict)
endif()
if(BRV_SANITIZE)
  target_compile_options(brv_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                               -fno-sanitize-recover=undefined)
  target_link_options(brv_options INTERFACE -fsanitize=address,undefined)
endif()
find_package(Threads REQUIRED)
target_link_libraries(brv_options INTERFACE Threads::Threads)

# Include roots. Headers are included as "<folder>/<file>.h". A folder's public headers are the
# .h files at its top; headers in its sub-folders (private/, tls/sspi/) belong to the folder
# alone. So the repository root is never an include path: each folder gets two roots in the
# build tree, made at configure time,
#   include/public/<folder>/<folder>/  links to the public headers only, and
#   include/own/<folder>/<folder>      a link to the whole source folder,
# and its library exports the first and builds with the second. A layer's tests and fuzz
# targets ask for the second explicitly (brv_own_headers); nothing else can reach it.
# include/tests/tests links to tests/, for the tests, benchmarks and fuzz targets that borrow
# test support.
set(BRV_INCLUDE_ROOT ${PROJECT_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${BRV_INCLUDE_ROOT}/tests)
file(CREATE_LINK ${PROJECT_SOURCE_DIR}/tests ${BRV_INCLUDE_ROOT}/tests/tests SYMBOLIC)

# brv_include_roots(<folder>): makes the two roots of a source folder (see above).
function(brv_include_roots folder)
  set(public ${BRV_INCLUDE_ROOT}/public/${folder})
  # Made afresh, so that a header moved into a sub-folder or removed leaves no link behind.
  file(REMOVE_RECURSE ${public})
  file(MAKE_DIRECTORY ${public}/${folder})
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(file ${header} NAME)
    file(CREATE_LINK ${header} ${public}/${folder}/${file} SYMBOLIC)
  endforeach()
  file(MAKE_DIRECTORY ${BRV_INCLUDE_ROOT}/own/${folder})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${BRV_INCLUDE_ROOT}/own/${folder}/${folder}
       SYMBOLIC)
endfunction()

# brv_library_includes(<target> <folder>): <target> builds with the folder's own root and
# exports its public root.
function(brv_library_includes target folder)
  brv_include_roots(${folder})
  target_include_directories(${target} PRIVATE ${BRV_INCLUDE_ROOT}/own/${folder}
                                       PUBLIC ${BRV_INCLUDE_ROOT}/public/${folder})
endfunction()

# brv_own_headers(<target> <folder>): lets <target> (a test or fuzz target of that folder)
# include the folder's private headers.
function(brv_own_headers target folder)
  target_include_directories(${target} PRIVATE ${BRV_INCLUDE_ROOT}/own/${folder})
endfunction()

# brv_layer(<name> [DEPS <layers...>] [LIBS <other libraries...>])
# One static library per layer folder, built from every .cpp in that folder (and its
# sub-folders).
function(brv_layer name)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    set(scope PUBLIC)
    add_library(brv_${name} STATIC ${sources})
  else()
    # A layer without sources yet is a header-only interface library.
    set(scope INTERFACE)
    add_library(brv_${name} INTERFACE)
  endif()
  if(sources)
    brv_library_includes(brv_${name} ${name})
  else()
    brv_include_roots(${name})
    target_include_directories(brv_${name} INTERFACE ${BRV_INCLUDE_ROOT}/public/${name})
  endif()
  target_link_libraries(brv_${name} ${scope} brv_options)
  foreach(dep IN LISTS ARG_DEPS)
    target_link_libraries(brv_${name} ${scope} brv_${dep})
  endforeach()
  if(ARG_LIBS)
    target_link_libraries(brv_${name} ${scope} ${ARG_LIBS})
  endif()
endfunction()

# brv_tests(<layer> [LIBS <extra libraries...>] [EXCLUDE_SUPPORT <file names...>])
# Every tests/<layer>/*_test.cpp becomes one GoogleTest program labelled <layer>;
# every *_itest.cpp (tests that start servers) is labelled <layer> and integration.
# Files in tests/<layer>/support/ form one library linked into every test program of the layer,
# except those named in EXCLUDE_SUPPORT (a library of their own, passed in LIBS). Every test
# program links the shared support of tests/support (brv_test_support).
function(brv_tests layer)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE_SUPPORT" ${ARGN})
  file(GLOB unit CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB integ CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_itest.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE_SUPPORT)
    list(REMOVE_ITEM support ${CMAKE_CURRENT_SOURCE_DIR}/support/${excluded})
  endforeach()
  # The support files are compiled once per layer, not once per test program.
  set(support_lib)
  if(support)
    set(support_lib brv_${layer}_test_support)
    add_library(${support_lib} STATIC ${support})
    target_include_directories(${support_lib} PUBLIC ${BRV_INCLUDE_ROOT}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    brv_own_headers(${support_lib} ${layer})
    target_link_libraries(${support_lib} PUBLIC brv_${layer} brv_test_support GTest::gtest
                                                GTest::gmock ${ARG_LIBS})
    target_compile_definitions(${support_lib} PUBLIC
      BRV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" BRV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  endif()
  # Every test of the directory carries the layer's label; a list of labels does not survive
  # the way test discovery passes properties on, so integration is the only per-test label.
  set_property(DIRECTORY PROPERTY LABELS ${layer})
  foreach(src IN LISTS unit integ)
    get_filename_component(stem ${src} NAME_WE)
    set(target test_${layer}_${stem})
    add_executable(${target} ${src})
    target_include_directories(${target} PRIVATE ${BRV_INCLUDE_ROOT}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    brv_own_headers(${target} ${layer})
    target_link_libraries(${target} PRIVATE ${support_lib} brv_${layer} brv_test_support
                                            GTest::gtest GTest::gtest_main GTest::gmock ${ARG_LIBS})
    target_compile_definitions(${target} PRIVATE
      BRV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" BRV_BINARY_DIR="${PROJECT_BINARY_DIR}")
    set(properties)
    if(src IN_LIST integ)
      set(properties LABELS integration)
    endif()
    gtest_discover_tests(${target} PROPERTIES ${properties} DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
