# Generates generated/native_table.h from the native specs in
# library/natives/*.kiv, the one list of the natives: the Native enum (each
# native numbered by the index after its spec, a stored format), native_count,
# the natives' names by index, and the position of each refinement in a
# native's refinement array (natives::refine::do_::next). An index given
# twice, or a gap in the indexes, fails the build. Run with -P (NATIVES_INPUTS, a |-separated list of paths relative to
# NATIVES_ROOT, and NATIVES_OUTPUT) it writes the header.

if(CMAKE_SCRIPT_MODE_FILE)
  include("${CMAKE_CURRENT_LIST_DIR}/cxx_names.cmake")
  string(REPLACE "|" ";" inputs "${NATIVES_INPUTS}")
  set(refines "")
  set(count 0)
  foreach(input IN LISTS inputs)
    file(READ "${NATIVES_ROOT}/${input}" text)
    # Strings and comments hold any character; only words, refinements and
    # brackets matter here. Brackets become tokens of their own, since CMake
    # lists do not split inside square brackets. Braced strings (unnested)
    # go first: they may hold a double quote.
    string(REGEX REPLACE "{[^{}]*}" " " text "${text}")
    string(REGEX REPLACE "\"[^\"]*\"" " " text "${text}")
    string(REGEX REPLACE ";[^\n]*" " " text "${text}")
    string(REPLACE "[" " <open> " text "${text}")
    string(REPLACE "]" " <close> " text "${text}")
    string(REGEX REPLACE "[ \t\r\n]+" ";" tokens "${text}")
    set(depth 0)
    set(name "")
    set(native FALSE)
    set(closed FALSE)
    foreach(token IN LISTS tokens)
      if(token STREQUAL "")
        continue()
      elseif(token STREQUAL "<open>")
        math(EXPR depth "${depth} + 1")
      elseif(token STREQUAL "<close>")
        math(EXPR depth "${depth} - 1")
        if(depth EQUAL 1 AND native)
          set(closed TRUE)  # the spec block ended: its index follows
        endif()
      elseif(depth EQUAL 0 AND token MATCHES "^(.+):$")
        set(name "${CMAKE_MATCH_1}")
        set(native FALSE)
      elseif(depth EQUAL 0 AND token STREQUAL "native!")
        set(native TRUE)
        set(closed FALSE)
        set(position 0)
        set(names "")
        string(TOLOWER "${name}" lower)
        kiv_cxx_name("${lower}" id "${input}")
      elseif(native AND depth EQUAL 2 AND token MATCHES "^/(.+)$")
        kiv_cxx_name("${CMAKE_MATCH_1}" refinement "${input}")
        string(APPEND names "inline constexpr std::int32_t ${refinement} = ${position};\n")
        math(EXPR position "${position} + 1")
      elseif(native AND closed AND depth EQUAL 1)
        if(NOT token MATCHES "^[0-9]+$")
          message(FATAL_ERROR "${input}: the native ${name} has no index after its spec")
        endif()
        if(DEFINED native_${token}_id)
          message(FATAL_ERROR "${input}: ${name} takes index ${token}, already given to ${native_${token}_name}")
        endif()
        set(native_${token}_id "${id}")
        set(native_${token}_name "${name}")
        if(token GREATER count)
          set(count ${token})
        endif()
        if(position GREATER 0)
          string(APPEND refines "namespace ${id} {\n${names}}  // namespace ${id}\n")
        endif()
        set(native FALSE)
      endif()
    endforeach()
  endforeach()

  set(enum "")
  set(names "")
  foreach(index RANGE 1 ${count})
    if(NOT DEFINED native_${index}_id)
      message(FATAL_ERROR "library/natives/: no native takes index ${index}")
    endif()
    if(index EQUAL 1)
      string(APPEND enum "    ${native_${index}_id} = 1,\n")
    else()
      string(APPEND enum "    ${native_${index}_id},\n")
    endif()
    string(APPEND names "    \"${native_${index}_name}\",\n")
  endforeach()

  file(WRITE "${NATIVES_OUTPUT}.tmp"
    "// Generated from library/natives/*.kiv. Do not edit.\n"
    "// services.h includes this inside namespace kiv::natives.\n\n"
    "// The natives by index (1-based; a stored format).\n"
    "enum class Native : std::int32_t {\n${enum}};\n"
    "inline constexpr std::int32_t native_count = ${count};\n\n"
    "// The word of each native, by index - 1.\n"
    "inline constexpr const char* native_names[native_count] = {\n${names}};\n\n"
    "// The index of each refinement in a native's refinement array.\n"
    "namespace refine {\n${refines}}  // namespace refine\n")
  file(COPY_FILE "${NATIVES_OUTPUT}.tmp" "${NATIVES_OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${NATIVES_OUTPUT}.tmp")
  return()
endif()

set(KIV_NATIVE_TABLE_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

# Attaches generated/native_table.h to target; reruns when a spec file changes.
function(kiv_native_table target)
  file(GLOB inputs CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
       ${PROJECT_SOURCE_DIR}/library/natives/*.kiv)
  list(SORT inputs)
  list(TRANSFORM inputs PREPEND "${PROJECT_SOURCE_DIR}/" OUTPUT_VARIABLE paths)
  string(REPLACE ";" "|" joined "${inputs}")
  set(output "${PROJECT_BINARY_DIR}/generated/native_table.h")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DNATIVES_INPUTS=${joined} -DNATIVES_ROOT=${PROJECT_SOURCE_DIR}
            -DNATIVES_OUTPUT=${output} -P ${KIV_NATIVE_TABLE_SCRIPT}
    DEPENDS ${paths} "${KIV_NATIVE_TABLE_SCRIPT}" "${PROJECT_SOURCE_DIR}/cmake/cxx_names.cmake"
    COMMENT "Generating the native refinement positions from library/natives/"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
endfunction()
