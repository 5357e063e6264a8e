# kiv_host_image(TARGET FUNCTION WHAT FILES...): adds to TARGET the image of
# FILES (paths below the source folder, evaluated in this order), made at
# build time by make_boot_image --host: the sources lexed, for a layer that
# evaluates them at its first use; kiv::boot_image::FUNCTION() returns it.
#
# kiv_boot_image(TARGET FUNCTION WHAT FILES...): the same for a host
# program's start (make_boot_image --boot): the library's and FILES' top
# levels evaluated at build time, the image holding the values they leave,
# so that start-up evaluates nothing.
function(kiv_image_of mode target function what)
  set(files ${ARGN})
  list(TRANSFORM files PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE paths)
  set(image ${PROJECT_BINARY_DIR}/generated/${function}_image.cpp)
  add_custom_command(
    OUTPUT ${image}
    COMMAND make_boot_image ${mode} ${image} ${function} ${PROJECT_SOURCE_DIR} ${files}
    DEPENDS make_boot_image ${paths}
    COMMENT "Making ${what}"
    VERBATIM)
  target_sources(${target} PRIVATE ${image})
endfunction()

function(kiv_host_image target function what)
  kiv_image_of(--host ${target} ${function} "${what}" ${ARGN})
endfunction()

function(kiv_boot_image target function what)
  kiv_image_of(--boot ${target} ${function} "${what}" ${ARGN})
endfunction()
