# Embeds library sources in the program: kiv_embed(target file name) turns
# library/<file>.kiv into a generated C++ source in the build tree that
# defines kiv::boot_text::<name>, a std::string_view of the file's text.
# Run with -P (EMBED_INPUT, EMBED_OUTPUT, EMBED_NAME, EMBED_SOURCE) it writes
# that source; the build reruns it whenever the .kiv file changes.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${EMBED_INPUT}" text)
  string(FIND "${text}" ")kiv\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${EMBED_SOURCE} holds the raw-string delimiter )kiv\"")
  endif()
  file(WRITE "${EMBED_OUTPUT}.tmp"
    "// Generated from ${EMBED_SOURCE}. Do not edit.\n"
    "#include <string_view>\n\n"
    "namespace kiv::boot_text {\n"
    "extern const std::string_view ${EMBED_NAME};\n"
    "const std::string_view ${EMBED_NAME} = R\"kiv(${text})kiv\";\n"
    "}  // namespace kiv::boot_text\n")
  file(COPY_FILE "${EMBED_OUTPUT}.tmp" "${EMBED_OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${EMBED_OUTPUT}.tmp")
  return()
endif()

set(KIV_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(kiv_embed target file name)
  kiv_embed_generated(${target} "${PROJECT_SOURCE_DIR}/${file}" ${file} ${name})
endfunction()

# The same for a file the build generates: input is its path in the build
# tree, source the file it was generated from (named in the output's header).
function(kiv_embed_generated target input source name)
  set(output "${PROJECT_BINARY_DIR}/generated/${name}.kiv.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DEMBED_INPUT=${input} -DEMBED_OUTPUT=${output}
            -DEMBED_NAME=${name} -DEMBED_SOURCE=${source} -P ${KIV_EMBED_SCRIPT}
    DEPENDS "${input}" "${KIV_EMBED_SCRIPT}"
    COMMENT "Embedding ${source}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
