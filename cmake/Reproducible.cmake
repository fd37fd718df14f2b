# Two builds of one commit give the same bytes, wherever the tree lies and
# whenever they run, so anyone can rebuild a release and compare it with the
# published checksums: no folder names in the binaries (file names in
# messages and debug information are written relative to the tree) and no
# link time in the DLL's header.
add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
  -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
