# The shipped presets, in quorvane-render's preset syntax: the one source of
# both the LV2 bundle's presets (lv2/) and the render tool's preset files
# (tools/). Each sets all five bands, every width but a shelf's in octaves,
# so it means the same at every sample rate in both.
set(QUORVANE_PRESET_NAMES flat low-cut vocal-presence air loudness)
set(QUORVANE_PRESET_FILES)
foreach(name IN LISTS QUORVANE_PRESET_NAMES)
  list(APPEND QUORVANE_PRESET_FILES ${CMAKE_CURRENT_LIST_DIR}/${name}.preset)
endforeach()
