# The stub and the packer for Windows, and the driver of the end-to-end tests.
enable_language(RC)

set(PLATFORM_WIN32_SOURCES
  src/platform/win32/files_win32.cpp
  src/platform/win32/system_win32.cpp
  src/platform/win32/ui_win32.cpp
  src/platform/win32/controls_win32.cpp
  src/platform/controls.cpp
  src/platform/win32/shell_win32.cpp
  src/platform/win32/registry_win32.cpp
  src/platform/win32/crc32_clmul.cpp)
set(PLATFORM_WIN32_LIBS comctl32 shell32 ole32 user32 gdi32 advapi32 version)
set(PLATFORM_WIN32_DEFINITIONS UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601)

add_library(platform_win32 STATIC ${PLATFORM_WIN32_SOURCES})
target_link_libraries(platform_win32 PUBLIC scrcore ${PLATFORM_WIN32_LIBS})
target_compile_definitions(platform_win32 PUBLIC ${PLATFORM_WIN32_DEFINITIONS})

# The stub compiles the portable logic and the Win32 layer itself rather than linking the two
# libraries: its size options below (link-time optimisation above all) need every object of its
# link built alike, and the libraries serve the packer and the test programs as they are.
get_target_property(scrcore_dir scrcore SOURCE_DIR)
get_target_property(scrcore_sources scrcore SOURCES)
set(SCRCORE_SOURCES)
foreach(source ${scrcore_sources})
  if(NOT IS_ABSOLUTE ${source})
    set(source ${scrcore_dir}/${source})
  endif()
  list(APPEND SCRCORE_SOURCES ${source})
endforeach()

# An import library whose functions load their DLL when first called, from a list of them (a
# .def file). The lists carry the 32-bit stdcall decorations (name@bytes); other architectures
# have one calling convention and undecorated names, so their copies drop them.
function(setup_delay_import_library def dll out_var)
  get_filename_component(name ${def} NAME_WE)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    file(READ ${def} def_text)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(def ${CMAKE_CURRENT_BINARY_DIR}/delayload/${name}.def)
    file(WRITE ${def} "${def_text}")
  endif()
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/delayload/lib${name}_delayed.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/delayload
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll} --kill-at --output-delaylib ${lib}
    DEPENDS ${def} VERBATIM)
  set(${out_var} ${lib} PARENT_SCOPE)
endfunction()

add_executable(setup WIN32 src/setup/winmain.cpp ${SETUP_LOGIC_SOURCES} ${PLATFORM_WIN32_SOURCES}
               ${SCRCORE_SOURCES} res/setup.rc)
target_include_directories(setup PRIVATE src)
target_compile_definitions(setup PRIVATE ${PLATFORM_WIN32_DEFINITIONS})
# The setup reports a damaged package without naming what is wrong: one text for every problem.
target_compile_definitions(setup PRIVATE PACKAGE_PROBLEMS_UNNAMED)
# The common controls, the shell and COM are loaded when first called rather than at start:
# a run that ends early (a silent run of a damaged package) never loads them, and the wizard's
# window does not wait for the shell and COM, which it needs only later. They come from the
# system folder alone (see RestrictDllSearch).
set(SETUP_DELAYED_DLLS comctl32 shell32 ole32 version)
if(MSVC)
  foreach(dll ${SETUP_DELAYED_DLLS})
    target_link_options(setup PRIVATE /DELAYLOAD:${dll}.dll)
  endforeach()
  target_link_libraries(setup PRIVATE ${PLATFORM_WIN32_LIBS} delayimp)
else()
  # MinGW has no delay-load switch: import libraries that load on first call are made from the
  # lists in cmake/delayload/ (a function missing there fails the link by name).
  # The link must optimise the whole program (INTERPROCEDURAL_OPTIMIZATION below): the i686 ld of
  # binutils 2.40 otherwise drops the load stubs of functions called only through
  # __declspec(dllimport), leaves their address slots 0, and the first call of one jumps to
  # address 0. tests/e2e/test_image.py (DelayImportTest) reads every slot of both stubs.
  set(delayed_libs)
  foreach(dll ${SETUP_DELAYED_DLLS})
    setup_delay_import_library(${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def ${dll}.dll lib)
    list(APPEND delayed_libs ${lib})
  endforeach()
  add_custom_target(setup_delayed_libs DEPENDS ${delayed_libs})
  add_dependencies(setup setup_delayed_libs)
  set(setup_libs ${PLATFORM_WIN32_LIBS})
  list(REMOVE_ITEM setup_libs ${SETUP_DELAYED_DLLS})
  # The binder the import stubs call is the setup's own (delay_load_mingw.cpp), a sixth of the
  # runtime's.
  target_sources(setup PRIVATE src/platform/win32/delay_load_mingw.cpp)
  target_link_libraries(setup PRIVATE ${delayed_libs} ${setup_libs})
endif()

# The manifest names the processor of the build: Windows refuses to start a program whose
# manifest names another. Its indentation and comments are for the reader of the template and
# are left out of the program.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|ARM|aarch64)")
  message(FATAL_ERROR "No manifest processor name for ${CMAKE_SYSTEM_PROCESSOR}")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SETUP_MANIFEST_ARCH x86)
else()
  set(SETUP_MANIFEST_ARCH amd64)
endif()
set(manifest_template ${CMAKE_SOURCE_DIR}/res/setup.manifest.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest_template})
file(READ ${manifest_template} manifest)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" manifest "${manifest}")
string(REGEX REPLACE "[ \t\r\n]+" " " manifest "${manifest}")
string(REPLACE "> <" "><" manifest "${manifest}")
string(STRIP "${manifest}" manifest)
set(setup_manifest ${CMAKE_CURRENT_BINARY_DIR}/res/setup.manifest)
file(CONFIGURE OUTPUT ${setup_manifest} CONTENT "${manifest}" @ONLY)
# The version resource takes the project's version, as the log does (see CMakeLists.txt).
set(setup_version_header ${CMAKE_CURRENT_BINARY_DIR}/res/setup_version.h)
file(CONFIGURE OUTPUT ${setup_version_header} CONTENT
     "#define SETUP_VERSION_NUMBERS ${SETUP_VERSION_NUMBERS}\n#define SETUP_VERSION \"${SETUP_VERSION}\"\n")

# The resource compiler's dependencies are not scanned: a changed picture must rebuild them too.
# It finds the manifest of the build in the build tree.
file(GLOB setup_resource_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*.ico ${CMAKE_SOURCE_DIR}/res/*.bmp)
set_source_files_properties(res/setup.rc PROPERTIES OBJECT_DEPENDS "${setup_resource_files};${setup_manifest};${setup_version_header}"
                            INCLUDE_DIRECTORIES ${CMAKE_CURRENT_BINARY_DIR}/res)

# The stub reports its failures as returned values and is built without C++ exceptions: their
# runtime support would be a third of it. The Win32 layer is too, wherever it is linked: no
# exception can then cross a callback from the system.
if(MSVC)
  target_compile_options(setup PRIVATE /EHs-c-)
  target_compile_options(platform_win32 PRIVATE /EHs-c-)
  target_compile_definitions(setup PRIVATE _HAS_EXCEPTIONS=0)
  target_link_options(setup PRIVATE /MANIFEST:NO /ENTRY:wWinMainCRTStartup)
  set_property(TARGET setup PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
else()
  foreach(t platform_win32 scrcore)
    target_compile_options(${t} PRIVATE -Os -ffunction-sections -fdata-sections)
  endforeach()
  target_compile_options(platform_win32 PRIVATE -fno-exceptions)
  # Small and self-contained: static runtime, unused sections dropped, symbols stripped.
  # The stub runs on one thread only, so its local statics need no guard against a second.
  # Optimised for size as one program at link time, in one partition (no indirections between
  # partitions); GCC 12 for PE crashes there on the shared bodies it gives constructors when
  # optimising for size ("internal compiler error: in binds_to_current_def_p"), hence
  # -fno-declone-ctor-dtor. Data is aligned as the ABI requires and no further: the padding
  # for vector loads buys the stub nothing.
  target_compile_options(setup PRIVATE -Oz -ffunction-sections -fdata-sections -fno-threadsafe-statics -fno-rtti
                         -fno-exceptions -fno-declone-ctor-dtor -malign-data=abi)
  # Loops copied, hoisted and given new induction variables, and expressions computed early on
  # every path, grow the code and gain the stub nothing: its loops wait for the disk or walk a
  # few names (2.5 KiB of the 64-bit stub). The checksum's loops are the exception, and keep
  # what the level gives them.
  set(SETUP_LOOP_OPTIONS -fno-tree-ch -fno-move-loop-invariants -fno-ivopts -fno-tree-loop-optimize -fno-code-hoisting
                         -fno-tree-pre -fmerge-all-constants)
  target_compile_options(setup PRIVATE ${SETUP_LOOP_OPTIONS})
  set_source_files_properties(src/common/crc32.cpp src/platform/win32/crc32_clmul.cpp TARGET_DIRECTORY setup
                              PROPERTIES COMPILE_OPTIONS "-ftree-ch;-fmove-loop-invariants;-fivopts;-ftree-loop-optimize;-fcode-hoisting;-ftree-pre")
  # 64-bit Windows unwinds every frame through the tables in .pdata and .xdata (exception
  # dispatch, crash reports, debuggers), so its build keeps them. 32-bit Windows uses no
  # tables, and the ones GCC writes there serve only C++ exceptions, which the stub has not.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_options(setup PRIVATE -fno-asynchronous-unwind-tables)
  endif()
  set_property(TARGET setup PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  target_link_options(setup PRIVATE -Oz ${SETUP_LOOP_OPTIONS} -municode -mwindows -static -static-libgcc -static-libstdc++
                      -Wl,--gc-sections -flto-partition=one -s -Wl,--dynamicbase -Wl,--nxcompat)
  # The C runtime's start-up is left out (a tenth of the stub): the entry point in entry_mingw.cpp
  # runs the constructors and calls wWinMain, and its own atexit takes the destructors, to which
  # -fno-use-cxa-atexit sends every registration. Nothing then applies the runtime's
  # pseudo-relocations, so a function or variable that would need one (one from a DLL that has
  # no import stub, as msvcrt's atexit) fails the link instead of the program.
  # 32-bit symbols carry a leading underscore.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol_prefix _)
  else()
    set(symbol_prefix "")
  endif()
  target_sources(setup PRIVATE src/platform/win32/entry_mingw.cpp)
  target_compile_options(setup PRIVATE -fno-use-cxa-atexit)
  target_link_options(setup PRIVATE -nostartfiles -Wl,--entry=${symbol_prefix}SetupEntry -Wl,--disable-auto-import)
  # ld 2.40 crashes making the base relocations (generate_reloc) when a function of msvcrt is
  # first needed by a call that link-time code generation adds: the import it then loads has no
  # place in the output. The functions GCC calls on its own for the setup's code are asked for
  # before, which loads them in time; one it starts calling crashes the link until it is listed.
  foreach(fn memmove memcmp strlen)
    target_link_options(setup PRIVATE -Wl,--undefined=${symbol_prefix}${fn})
  endforeach()
endif()

# Every link of the stub prints its size by section and resource type, and the change since the last.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_custom_command(TARGET setup POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/size_report.py $<TARGET_FILE:setup>
            --previous ${CMAKE_CURRENT_BINARY_DIR}/setup-size.json
    VERBATIM)
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/driver/wintest.cpp)
  add_executable(wintest tests/e2e/driver/wintest.cpp)
  target_compile_definitions(wintest PRIVATE UNICODE _UNICODE)
  if(NOT MSVC)
    target_link_options(wintest PRIVATE -municode -static -static-libgcc -static-libstdc++)
  endif()
  target_link_libraries(wintest PRIVATE user32 gdi32 shell32 ole32 comctl32)

  # Records what the system starts it with, for the hand-offs the tests observe.
  add_executable(recorder WIN32 tests/e2e/driver/recorder.c)
  target_compile_definitions(recorder PRIVATE UNICODE _UNICODE)
  if(NOT MSVC)
    target_link_options(recorder PRIVATE -municode -static)
  endif()
  target_link_libraries(recorder PRIVATE shell32)

  # Stands in for a program started by a fixed path (powercfg.exe): logs its command line.
  add_executable(cmdrecorder WIN32 tests/e2e/driver/cmdrecorder.c)
  target_compile_definitions(cmdrecorder PRIVATE UNICODE _UNICODE)
  if(NOT MSVC)
    target_link_options(cmdrecorder PRIVATE -municode -static)
  endif()
endif()

# The start-up benchmark's timer, run inside Wine, and its floor: an empty window program.
add_executable(startup_timer bench/startup_timer.c)
add_executable(empty_window WIN32 bench/empty_window.c)
foreach(t startup_timer empty_window)
  target_compile_definitions(${t} PRIVATE UNICODE _UNICODE)
  if(NOT MSVC)
    target_compile_options(${t} PRIVATE -Os)
    target_link_options(${t} PRIVATE -municode -static -s)
  endif()
endforeach()

# The sample screensaver packed by the demo and the end-to-end tests.
add_executable(Starfield WIN32 samples/starfield.c samples/starfield.rc)
set_target_properties(Starfield PROPERTIES SUFFIX ".scr")
if(NOT MSVC)
  target_compile_options(Starfield PRIVATE -Os)
  target_link_options(Starfield PRIVATE -municode -s)
endif()

# Console probe of the setup's binder of functions imported when first called (GCC builds only:
# MSVC builds use their runtime's). The setup's resources give it a version to read.
if(NOT MSVC)
  setup_delay_import_library(${CMAKE_SOURCE_DIR}/tests/e2e/driver/delayprobe_version.def version.dll probe_version)
  setup_delay_import_library(${CMAKE_SOURCE_DIR}/tests/e2e/driver/delayprobe_absent.def absent_probe_library.dll
                             probe_absent)
  add_custom_target(delayprobe_libs DEPENDS ${probe_version} ${probe_absent})
  add_executable(delayprobe tests/e2e/driver/delayprobe.cpp src/platform/win32/delay_load_mingw.cpp res/setup.rc)
  add_dependencies(delayprobe delayprobe_libs)
  target_include_directories(delayprobe PRIVATE src/platform/win32)
  target_link_libraries(delayprobe PRIVATE ${probe_version} ${probe_absent})
  target_link_options(delayprobe PRIVATE -municode -static)
  # Linked as the stub is, optimised as one program (see SETUP_DELAYED_DLLS above): without that
  # the i686 linker leaves the address slots of its delayed functions 0.
  set_property(TARGET delayprobe PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  # A stranger's version.dll that the tests put beside the probe; under another name here, so
  # that nothing in this folder finds it by chance.
  add_library(planted_version SHARED tests/e2e/driver/planted_version.c)
  set_target_properties(planted_version PROPERTIES PREFIX "" OUTPUT_NAME planted_version)
  target_link_options(planted_version PRIVATE -static -Wl,--kill-at)
endif()

# Console probe of the system routines for the end-to-end tests; the setup's resources serve
# its picture controls.
add_executable(sysprobe tests/e2e/driver/sysprobe.cpp src/setupmain/sysroutines.cpp src/setupmain/destination.cpp
               src/setupmain/run_log.cpp
               res/setup.rc)
target_link_libraries(sysprobe PRIVATE platform_win32 scrcore uuid)
if(NOT MSVC)
  target_link_options(sysprobe PRIVATE -municode -static -static-libgcc -static-libstdc++)
endif()
