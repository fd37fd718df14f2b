# The library's sources, built once and used twice: as the module library the
# host loads (Quorvane.dll / Quorvane.so) and as a static library that tests,
# tools and benchmarks link to reach the internals.
set(QUORVANE_SOURCES
  host_interface/host_callback.cpp
  host_interface/se_pin.cpp
  host_interface/se_module_base.cpp
  host_interface/entry_points.cpp
  equaliser/band_filter.cpp
  equaliser/design_math.cpp
  equaliser/module.cpp
  equaliser/poll.cpp
  equaliser/process.cpp
  equaliser/block_kernel.cpp
  equaliser/silence_pass.cpp
  equaliser/kernel_path.cpp
)

add_library(quorvane_objects OBJECT ${QUORVANE_SOURCES})
target_include_directories(quorvane_objects PUBLIC ${PROJECT_SOURCE_DIR})
# The kernel's wider lane types pass vector registers between functions
# compiled for their own instruction sets; GCC notes each such ABI choice.
target_compile_options(quorvane_objects PRIVATE -Wno-psabi)
if(WIN32)
  # Nothing in the library throws (it allocates with the no-throw forms), so
  # the shipped DLL carries no exception machinery.
  target_compile_options(quorvane_objects PRIVATE -fno-exceptions)
endif()
set_target_properties(quorvane_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# The one version, the project's: the about text the host shows carries it.
target_compile_definitions(quorvane_objects PRIVATE QUORVANE_VERSION="${PROJECT_VERSION}")

add_library(quorvane_core STATIC $<TARGET_OBJECTS:quorvane_objects>)
target_include_directories(quorvane_core PUBLIC ${PROJECT_SOURCE_DIR})

add_library(Quorvane SHARED $<TARGET_OBJECTS:quorvane_objects>)
set_target_properties(Quorvane PROPERTIES PREFIX "" OUTPUT_NAME Quorvane)
if(WIN32)
  # The same version in the file's version resource, for Windows to show.
  enable_language(RC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvane_version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/quorvane_version.rc @ONLY)
  target_sources(Quorvane PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/quorvane_version.rc)
  # Linked stripped: the DLL the build makes is the one that ships. (A strip
  # afterwards would stamp the file with the time of stripping.)
  target_link_options(Quorvane PRIVATE -s)
  # Without the compiler's start-up files and libraries: the DLL's entry and
  # allocation functions are its own (host_interface/dll_runtime.cpp), the
  # C runtime gives malloc, free and a few string functions, libgcc the
  # compiler's helpers, and the C++ support library only std::nothrow.
  target_sources(Quorvane PRIVATE ${PROJECT_SOURCE_DIR}/host_interface/dll_runtime.cpp)
  target_compile_options(Quorvane PRIVATE -fno-exceptions)
  target_link_options(Quorvane PRIVATE -nostartfiles -nostdlib -Wl,-e,_DllMainCRTStartup@12
                      -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
  target_link_libraries(Quorvane PRIVATE supc++ msvcrt gcc)
endif()
if(NOT WIN32)
  # Resolve our own symbols inside the library and export nothing but the two
  # entry points.
  target_link_options(Quorvane PRIVATE -Wl,-Bsymbolic -Wl,--exclude-libs,ALL)
endif()

# The native module is installed for quorvane-render, not for linking: it
# goes into a private folder (lib/quorvane under the prefix, beside the
# render tool's plotting script), where the tool finds it relative to its own
# place in bin/. The Windows DLL is delivered to the closed host by other
# means and has no install rule.
if(NOT WIN32)
  set(QUORVANE_INSTALL_PKGLIBDIR "lib/quorvane" CACHE STRING
      "Folder under the install prefix for the native module and the render tool's helpers")
  install(TARGETS Quorvane LIBRARY DESTINATION ${QUORVANE_INSTALL_PKGLIBDIR})
endif()
