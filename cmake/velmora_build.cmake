# The build's one place for options, compiler flags, the outside libraries and velmora_library().
include_guard(GLOBAL)

option(VELMORA_SANITIZE "Build with ASan + UBSan" OFF)
option(VELMORA_TESTS "Build the test programs" ON)
option(VELMORA_BENCH "Build the benchmarks" OFF)
option(VELMORA_FUZZ "Build the libFuzzer targets (clang only)" OFF)
# The settings window (pane/ui and its host) needs Qt 6; without it the core, the agent and the
# command-line tools still build and test.
option(VELMORA_WITH_QT "Build the settings window with Qt 6" ON)
# On in the dev preset that scripts/test and CI build, so a new warning fails the build there;
# off by default so a newer compiler's new warnings do not stop someone building a release.
option(VELMORA_WERROR "Treat compiler warnings as errors" OFF)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
# Every program lands in build/<preset>/bin/.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

# --- Compiler flags, for every target of the project ------------------------------------------
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(VELMORA_WERROR)
  add_compile_options(-Werror)
endif()
# Programs load only the shared libraries they use (the agent does without the cipher library).
add_link_options(-Wl,--as-needed)
if(VELMORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VELMORA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Where the programs find their resources (strings tables, definitions, help texts)
# when they run from the build tree; installed copies override it with --resources.
add_compile_definitions(VELMORA_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/resources"
                        VELMORA_VERSION_TEXT="${PROJECT_VERSION}")

# --- Outside libraries (Debian packages, see scripts/install-deps) -----------------------------
# Found once here, as global targets, so that every folder's CMakeLists.txt links them by name.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(CURL REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET GLOBAL libplist-2.0)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
# The real machine's devices: libudev for the device tree and hot-plug (hidraw for receivers).
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET GLOBAL libudev)
# The X11 pointer writer sets devices' XInput properties.
pkg_check_modules(XINPUT REQUIRED IMPORTED_TARGET GLOBAL x11 xi)
# The desktop session's adapters: AT-SPI accessibility, RandR screens and the XTest pointer.
pkg_check_modules(DESKTOP_SESSION REQUIRED IMPORTED_TARGET GLOBAL atspi-2 gobject-2.0 xrandr xtst x11 xcb)
# The reference web service: libmicrohttpd serves, libpq reaches PostgreSQL; cpp-httplib is the
# load tool's and the tests' HTTP client.
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET GLOBAL libmicrohttpd)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET GLOBAL libpq)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
if(VELMORA_WITH_QT)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
endif()
if(VELMORA_TESTS)
  find_package(GTest REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()
if(VELMORA_BENCH)
  find_package(benchmark REQUIRED)
endif()
if(VELMORA_TESTS OR VELMORA_BENCH)
  # The Linux device adapters' tests and hot-plug benchmark run on umockdev's device trees;
  # the tests skip where it is not installed, the benchmark needs it.
  pkg_check_modules(UMOCKDEV IMPORTED_TARGET GLOBAL umockdev-1.0)
  if(VELMORA_BENCH AND NOT UMOCKDEV_FOUND)
    message(FATAL_ERROR "the benchmarks need umockdev (libumockdev-dev)")
  endif()
endif()

# velmora_library(<name> <source>...): one static library of the project, its sources listed
# one a line. Includes name the file from the top of the tree ("core/store/store.h"); which
# folder may include which is checked by scripts/check-layers (the layers.check test). Position
# independent, because the settings window's plug-in links them into a shared library.
function(velmora_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  set_property(GLOBAL APPEND PROPERTY VELMORA_LIBRARIES ${name})
endfunction()

# velmora_header_library(<name>): a folder of headers only (the ports).
function(velmora_header_library name)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY VELMORA_LIBRARIES ${name})
endfunction()

# velmora_library_group(<name> <library>...): several folders' libraries under one name, for the
# programs that use them all (velmora_core, velmora_pane).
function(velmora_library_group name)
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${ARGN})
  set_property(GLOBAL APPEND PROPERTY VELMORA_LIBRARIES ${name})
endfunction()

# velmora_write_link_map(): after every folder, writes build/<preset>/velmora_link_map.txt, one
# line per library: name, folder, archive (or "-"), the project libraries it links. The
# layers.link_deps test (scripts/check-link-deps) reads it with the archives' symbols and fails
# when a library uses another without linking it, which a static link only shows when the
# link order happens to change.
function(velmora_write_link_map)
  get_property(libraries GLOBAL PROPERTY VELMORA_LIBRARIES)
  set(lines)
  foreach(lib ${libraries})
    get_target_property(kind ${lib} TYPE)
    if(kind STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${lib} INTERFACE_LINK_LIBRARIES)
      set(archive "-")
    else()
      get_target_property(links ${lib} LINK_LIBRARIES)
      set(archive "$<TARGET_FILE:${lib}>")
    endif()
    get_target_property(folder ${lib} SOURCE_DIR)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${folder})
    set(own)
    foreach(l ${links})
      if(l IN_LIST libraries)
        list(APPEND own ${l})
      endif()
    endforeach()
    list(JOIN own " " own)
    string(APPEND lines "${lib}\t${folder}\t${archive}\t${own}\n")
  endforeach()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/velmora_link_map.txt CONTENT "${lines}")
endfunction()

# GCC 12's flow analysis at -O2 draws false positives from a few files (noted where they are
# quieted); velmora_quiet(<warning> <source>...) turns one warning off for those sources.
function(velmora_quiet warning)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -Wno-${warning})
  endif()
endfunction()
