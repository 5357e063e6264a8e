# Generates every copy of the action list from runtime/evaluator/actions.table:
#   generated/action_table.h  the Action enum, action_count, the spec strings
#                             and the refinement positions (refine::find::part)
#   generated/action_slots.h  the handler kind of each slot (registry::Slot)
#   generated/actions.kiv     the language's action values, embedded as boot data
# Run with -P (ACTIONS_INPUT, ACTIONS_SOURCE, ACTIONS_OUTPUT_DIR) it writes
# them; kiv_action_table(target) makes the build rerun it when the list changes.

if(CMAKE_SCRIPT_MODE_FILE)
  include("${CMAKE_CURRENT_LIST_DIR}/cxx_names.cmake")
  file(STRINGS "${ACTIONS_INPUT}" lines)
  set(header "// Generated from ${ACTIONS_SOURCE}. Do not edit.\n")
  set(enum "")
  set(specs "")
  set(refines "")
  set(slots "")
  set(kiv "")
  set(expected 1)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)[ \t]+([^ \t]+)[ \t]+([A-Za-z]+|-)[ \t]*(.*)$")
      message(FATAL_ERROR "${ACTIONS_SOURCE}: malformed row: ${line}")
    endif()
    set(slot ${CMAKE_MATCH_1})
    set(word "${CMAKE_MATCH_2}")
    set(kind "${CMAKE_MATCH_3}")
    string(STRIP "${CMAKE_MATCH_4}" arguments)
    if(NOT slot EQUAL expected)
      message(FATAL_ERROR "${ACTIONS_SOURCE}: slot ${slot} where ${expected} was due")
    endif()
    math(EXPR expected "${expected} + 1")

    set(internal FALSE)
    if(word MATCHES "^\\((.+)\\)$")
      set(internal TRUE)
      set(word "${CMAKE_MATCH_1}")
      if(NOT arguments STREQUAL "")
        message(FATAL_ERROR "${ACTIONS_SOURCE}: internal slot ${slot} takes no spec")
      endif()
    endif()
    kiv_cxx_name("${word}" id "${ACTIONS_SOURCE}")

    if(slot EQUAL 1)
      set(enumerator "    ${id} = 1,")
    else()
      set(enumerator "    ${id},")
    endif()
    string(LENGTH "${enumerator}" width)
    math(EXPR pad "24 - ${width}")
    string(REPEAT " " ${pad} spaces)
    string(APPEND enum "${enumerator}")
    if(internal)
      string(APPEND enum "${spaces}// ${slot}: internal, no word\n")
      string(APPEND specs "    {\"\", \"\"},  // ${slot}: ${word}\n")
    else()
      string(APPEND enum "${spaces}// ${slot}: ${word}\n")
      string(APPEND specs "    {\"${word}\", \"${arguments}\"},\n")
      string(APPEND kiv "${word}: make action! [[${arguments}] ${slot}]\n")
    endif()
    if(NOT kind STREQUAL "-")
      string(APPEND slots "template <> struct Slot<Action::${id}> { using type = handler::${kind}; };\n")
    endif()

    # Refinement positions: 0-based, in spec order.
    string(REPLACE " " ";" tokens "${arguments}")
    set(position 0)
    set(names "")
    foreach(token IN LISTS tokens)
      if(token MATCHES "^/(.+)$")
        kiv_cxx_name("${CMAKE_MATCH_1}" refinement "${ACTIONS_SOURCE}")
        string(APPEND names "inline constexpr std::int32_t ${refinement} = ${position};\n")
        math(EXPR position "${position} + 1")
      endif()
    endforeach()
    if(position GREATER 0)
      string(APPEND refines "namespace ${id} {\n${names}}  // namespace ${id}\n")
    endif()
  endforeach()
  math(EXPR count "${expected} - 1")

  file(WRITE "${ACTIONS_OUTPUT_DIR}/action_table.h.tmp" "${header}"
    "// The actions by slot, their specs, and the positions of their refinements\n"
    "// in a dispatch entry's refinement array.\n"
    "#pragma once\n\n#include <array>\n#include <cstdint>\n\nnamespace kiv {\n\n"
    "// The ${count} generic actions, numbered by their slot. ORDER ACTIONS\n"
    "enum class Action : std::uint8_t {\n${enum}};\n"
    "inline constexpr int action_count = ${count};\n\n"
    "// An action's spec as the language reads it: its word, then its arguments\n"
    "// and refinements in order, a refinement's arguments after it. Empty for\n"
    "// the internal slots. By slot, slot 1 at index 0. ORDER ACTIONS\n"
    "struct ActionSpec {\n    const char* name;\n    const char* arguments;\n};\n"
    "inline constexpr std::array<ActionSpec, action_count> action_specs{{\n${specs}}};\n\n"
    "// The index of each refinement in the refinement array of an action entry.\n"
    "namespace refine {\n${refines}}  // namespace refine\n\n"
    "}  // namespace kiv\n")
  file(WRITE "${ACTIONS_OUTPUT_DIR}/action_slots.h.tmp" "${header}"
    "// The handler kind of each action slot; registry.h includes this inside\n"
    "// namespace kiv::registry, after the handler kinds. ORDER ACTIONS\n"
    "${slots}")
  file(WRITE "${ACTIONS_OUTPUT_DIR}/actions.kiv.tmp"
    "; Generated from ${ACTIONS_SOURCE}. Do not edit.\n"
    "; The action values, in action order (the internal slots have no word):\n"
    "; `name: make action! [[spec] n]`, n the action's slot. ORDER ACTIONS\n"
    ";\n"
    "; This file is evaluated first: the `make` that its first line calls is a\n"
    "; stand-in the runtime makes for this file alone, replaced by that line.\n\n"
    "${kiv}")
  foreach(file action_table.h action_slots.h actions.kiv)
    file(COPY_FILE "${ACTIONS_OUTPUT_DIR}/${file}.tmp" "${ACTIONS_OUTPUT_DIR}/${file}" ONLY_IF_DIFFERENT)
    file(REMOVE "${ACTIONS_OUTPUT_DIR}/${file}.tmp")
  endforeach()
  return()
endif()

set(KIV_ACTION_TABLE_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")
set(KIV_ACTION_TABLE_SOURCE runtime/evaluator/actions.table)
set(KIV_ACTION_TABLE_OUTPUTS
  "${PROJECT_BINARY_DIR}/generated/action_table.h"
  "${PROJECT_BINARY_DIR}/generated/action_slots.h"
  "${PROJECT_BINARY_DIR}/generated/actions.kiv")

# Attaches the generated headers to target (the library whose sources include
# them first); generated/actions.kiv is embedded by the start-up library.
function(kiv_action_table target)
  set(input "${PROJECT_SOURCE_DIR}/${KIV_ACTION_TABLE_SOURCE}")
  add_custom_command(
    OUTPUT ${KIV_ACTION_TABLE_OUTPUTS}
    COMMAND ${CMAKE_COMMAND} -DACTIONS_INPUT=${input}
            -DACTIONS_SOURCE=${KIV_ACTION_TABLE_SOURCE}
            -DACTIONS_OUTPUT_DIR=${PROJECT_BINARY_DIR}/generated -P ${KIV_ACTION_TABLE_SCRIPT}
    DEPENDS "${input}" "${KIV_ACTION_TABLE_SCRIPT}" "${PROJECT_SOURCE_DIR}/cmake/cxx_names.cmake"
    COMMENT "Generating the action tables from ${KIV_ACTION_TABLE_SOURCE}"
    VERBATIM)
  target_sources(${target} PRIVATE ${KIV_ACTION_TABLE_OUTPUTS})
endfunction()
