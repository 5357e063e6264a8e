# kiv_host_image(TARGET FUNCTION WHAT FILES...): adds to TARGET the image of
# FILES (paths below the source folder, evaluated in this order), made at
# build time by make_boot_image --host; kiv::boot_image::FUNCTION() returns it.
function(kiv_host_image target function what)
  set(files ${ARGN})
  list(TRANSFORM files PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE paths)
  set(image ${PROJECT_BINARY_DIR}/generated/${function}_image.cpp)
  add_custom_command(
    OUTPUT ${image}
    COMMAND make_boot_image --host ${image} ${function} ${PROJECT_SOURCE_DIR} ${files}
    DEPENDS make_boot_image ${paths}
    COMMENT "Making ${what}"
    VERBATIM)
  target_sources(${target} PRIVATE ${image})
endfunction()
