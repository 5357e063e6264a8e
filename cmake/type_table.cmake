# Generates every copy of the type list from runtime/types.table:
#   generated/type_ids.h      the TypeId enum and type_count (cell.h)
#   generated/type_marks.h    the collector's mark rule of each type
#   generated/type_rows.h     each type's name, parent and predicate (registry,
#                             runtime words, predicates)
#   generated/type_modules.h  the registering functions, parents first
# Run with -P (TYPES_INPUT, TYPES_SOURCE, TYPES_OUTPUT_DIR) it writes them;
# kiv_type_table(target) makes the build rerun it when the list changes. A
# malformed row fails the build, naming the row.

if(CMAKE_SCRIPT_MODE_FILE)
  include("${CMAKE_CURRENT_LIST_DIR}/cxx_names.cmake")
  set(marks none node cells context table handle word-context op-context values image event)
  file(STRINGS "${TYPES_INPUT}" lines)
  set(header "// Generated from ${TYPES_SOURCE}. Do not edit.\n")
  set(names "")
  set(expected 1)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(LENGTH fields count)
    if(NOT (count EQUAL 6 OR count EQUAL 8))
      message(FATAL_ERROR "${TYPES_SOURCE}: malformed row: ${line}")
    endif()
    list(GET fields 0 id)
    list(GET fields 1 name)
    list(GET fields 2 parent)
    list(GET fields 3 predicate)
    math(EXPR last_field "${count} - 1")
    math(EXPR mark_count "${count} - 5")
    list(SUBLIST fields 4 ${mark_count} mark)
    list(GET fields ${last_field} register)
    list(FIND mark "-" dash)
    if((count EQUAL 8 AND NOT dash EQUAL -1) OR (count EQUAL 6 AND dash EQUAL -1))
      message(FATAL_ERROR "${TYPES_SOURCE}: a mark rule is - or three words (row ${id})")
    endif()
    if(NOT id EQUAL expected)
      message(FATAL_ERROR "${TYPES_SOURCE}: type ${id} where ${expected} was due")
    endif()
    math(EXPR expected "${expected} + 1")

    set(internal FALSE)
    if(name MATCHES "^\\((.+)\\)$")
      set(internal TRUE)
      set(name "${CMAKE_MATCH_1}")
    endif()
    if(NOT name MATCHES "^[a-zA-Z][a-zA-Z0-9-]*!$")
      message(FATAL_ERROR "${TYPES_SOURCE}: '${name}' is no type name (row ${id})")
    endif()
    list(FIND names "${name}" clash)
    if(NOT clash EQUAL -1)
      message(FATAL_ERROR "${TYPES_SOURCE}: ${name} is listed twice")
    endif()
    string(REGEX REPLACE "!$" "" word "${name}")
    string(TOLOWER "${word}" word)
    kiv_cxx_name("${word}" cxx "${TYPES_SOURCE}")
    if(internal AND predicate STREQUAL "yes")
      message(FATAL_ERROR "${TYPES_SOURCE}: the internal type ${name} has no word for a predicate")
    endif()
    if(NOT predicate MATCHES "^(yes|-)$")
      message(FATAL_ERROR "${TYPES_SOURCE}: predicate of ${name} is '${predicate}', not yes or -")
    endif()
    foreach(ref IN LISTS mark)
      if(NOT ref STREQUAL "-")
        list(FIND marks "${ref}" known)
        if(known EQUAL -1)
          message(FATAL_ERROR "${TYPES_SOURCE}: '${ref}' is no mark rule (row ${id})")
        endif()
      endif()
    endforeach()
    if(NOT register MATCHES "^(-|[a-z_][a-z0-9_]*::[a-z_][a-z0-9_]*)$")
      message(FATAL_ERROR "${TYPES_SOURCE}: '${register}' is no registering function (row ${id})")
    endif()
    list(APPEND names "${name}")
    set(row_${id}_name "${name}")
    set(row_${id}_cxx "${cxx}")
    set(row_${id}_parent "${parent}")
    set(row_${id}_internal ${internal})
    set(row_${id}_predicate "${predicate}")
    set(row_${id}_mark "${mark}")
    set(row_${id}_register "${register}")
  endforeach()
  math(EXPR last "${expected} - 1")
  if(last EQUAL 0)
    message(FATAL_ERROR "${TYPES_SOURCE}: no types")
  endif()

  # Parents by id, each one a listed type.
  foreach(id RANGE 1 ${last})
    set(parent "${row_${id}_parent}")
    if(parent STREQUAL "-")
      set(row_${id}_parent_id 0)
    else()
      list(FIND names "${parent}" at)
      if(at EQUAL -1)
        message(FATAL_ERROR "${TYPES_SOURCE}: the parent ${parent} of ${row_${id}_name} is no listed type")
      endif()
      math(EXPR row_${id}_parent_id "${at} + 1")
    endif()
  endforeach()

  # Registration order: each type after its ancestors, otherwise by id.
  set(order "")
  foreach(id RANGE 1 ${last})
    set(chain "")
    set(at ${id})
    while(NOT at EQUAL 0)
      list(FIND chain ${at} seen)
      if(NOT seen EQUAL -1)
        message(FATAL_ERROR "${TYPES_SOURCE}: ${row_${id}_name} is its own ancestor")
      endif()
      list(PREPEND chain ${at})
      set(at ${row_${at}_parent_id})
    endwhile()
    foreach(step IN LISTS chain)
      list(FIND order ${step} done)
      if(done EQUAL -1)
        list(APPEND order ${step})
      endif()
    endforeach()
  endforeach()

  # type_ids.h
  set(enum "    no_type = 0,\n")
  foreach(id RANGE 1 ${last})
    set(enumerator "    ${row_${id}_cxx},")
    if(id EQUAL 1)
      set(enumerator "    ${row_${id}_cxx} = 1,")
    endif()
    string(LENGTH "${enumerator}" width)
    math(EXPR pad "24 - ${width}")
    if(pad LESS 1)
      set(pad 1)
    endif()
    string(REPEAT " " ${pad} spaces)
    string(APPEND enum "${enumerator}${spaces}// ${id}: ${row_${id}_name}\n")
  endforeach()
  math(EXPR type_count "${last} + 1")

  # type_marks.h and type_rows.h
  set(mark_rows "    {},  // 0: no type\n")
  set(type_rows "    {nullptr, TypeId::no_type, false, false},  // 0\n")
  set(word_count 0)
  foreach(id RANGE 1 ${last})
    set(mark "${row_${id}_mark}")
    if(mark STREQUAL "-")
      string(APPEND mark_rows "    {},  // ${row_${id}_name}\n")
    else()
      set(refs "")
      foreach(ref IN LISTS mark)
        string(REPLACE "-" "_" ref "${ref}")
        list(APPEND refs "Ref::${ref}")
      endforeach()
      list(JOIN refs ", " refs)
      string(APPEND mark_rows "    {${refs}},  // ${row_${id}_name}\n")
    endif()
    set(parent_id ${row_${id}_parent_id})
    if(parent_id EQUAL 0)
      set(parent "no_type")
    else()
      set(parent "${row_${parent_id}_cxx}")
    endif()
    if(row_${id}_internal)
      set(has_word false)
    else()
      set(has_word true)
      math(EXPR word_count "${word_count} + 1")
    endif()
    if(row_${id}_predicate STREQUAL "yes")
      set(has_predicate true)
    else()
      set(has_predicate false)
    endif()
    string(APPEND type_rows
      "    {\"${row_${id}_name}\", TypeId::${parent}, ${has_word}, ${has_predicate}},\n")
  endforeach()

  # type_modules.h
  set(functions "")
  foreach(id IN LISTS order)
    set(register "${row_${id}_register}")
    if(NOT register STREQUAL "-")
      list(FIND functions "${register}" done)
      if(done EQUAL -1)
        list(APPEND functions "${register}")
      endif()
    endif()
  endforeach()
  set(declarations "")
  set(calls "")
  foreach(function IN LISTS functions)
    string(REGEX MATCH "^([a-z0-9_]+)::([a-z0-9_]+)$" unused "${function}")
    string(APPEND declarations "namespace ${CMAKE_MATCH_1} { void ${CMAKE_MATCH_2}(); }\n")
    string(APPEND calls "    &${function},\n")
  endforeach()

  file(WRITE "${TYPES_OUTPUT_DIR}/type_ids.h.tmp" "${header}"
    "// The datatype ids; cell.h includes this inside namespace kiv.\n\n"
    "// The type ids of the cells (a stored format: cells, Kivbin).\n"
    "enum class TypeId : std::uint8_t {\n${enum}};\n"
    "inline constexpr int type_count = ${type_count};  // ids 0-${last}\n")
  file(WRITE "${TYPES_OUTPUT_DIR}/type_marks.h.tmp" "${header}"
    "// The mark rule of each type, by type id; collector.cpp includes this\n"
    "// inside its namespace, after Ref and MarkRule.\n\n"
    "constexpr std::array<MarkRule, type_count> mark_rules{{\n${mark_rows}}};\n")
  file(WRITE "${TYPES_OUTPUT_DIR}/type_rows.h.tmp" "${header}"
    "// What the runtime knows of each type before its module registers.\n"
    "#pragma once\n\n#include \"runtime/core/cell.h\"\n\n#include <array>\n\n"
    "namespace kiv::types {\n\n"
    "struct Row {\n"
    "    const char* name;   // with the final \"!\"; null for id 0\n"
    "    TypeId parent;      // whose handlers the type inherits, or no_type\n"
    "    bool word;          // false for the internal types\n"
    "    bool predicate;     // the language has \"name?\"\n"
    "};\n"
    "inline constexpr std::array<Row, type_count> rows{{\n${type_rows}}};\n"
    "// The types that have a word in the language.\n"
    "inline constexpr int word_count = ${word_count};\n\n"
    "}  // namespace kiv::types\n")
  file(WRITE "${TYPES_OUTPUT_DIR}/type_modules.h.tmp" "${header}"
    "// The functions that register the types' handlers, each type after its\n"
    "// ancestors; registry.cpp includes this inside namespace kiv.\n\n"
    "${declarations}\n"
    "namespace registry {\n"
    "inline constexpr void (*registration_order[])() = {\n${calls}};\n"
    "}  // namespace registry\n")
  foreach(file type_ids.h type_marks.h type_rows.h type_modules.h)
    file(COPY_FILE "${TYPES_OUTPUT_DIR}/${file}.tmp" "${TYPES_OUTPUT_DIR}/${file}" ONLY_IF_DIFFERENT)
    file(REMOVE "${TYPES_OUTPUT_DIR}/${file}.tmp")
  endforeach()
  return()
endif()

set(KIV_TYPE_TABLE_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")
set(KIV_TYPE_TABLE_SOURCE runtime/types.table)
set(KIV_TYPE_TABLE_OUTPUTS
  "${PROJECT_BINARY_DIR}/generated/type_ids.h"
  "${PROJECT_BINARY_DIR}/generated/type_marks.h"
  "${PROJECT_BINARY_DIR}/generated/type_rows.h"
  "${PROJECT_BINARY_DIR}/generated/type_modules.h")

# Attaches the generated headers to target (the lowest library that includes
# them: every library above sees them through it).
function(kiv_type_table target)
  set(input "${PROJECT_SOURCE_DIR}/${KIV_TYPE_TABLE_SOURCE}")
  add_custom_command(
    OUTPUT ${KIV_TYPE_TABLE_OUTPUTS}
    COMMAND ${CMAKE_COMMAND} -DTYPES_INPUT=${input} -DTYPES_SOURCE=${KIV_TYPE_TABLE_SOURCE}
            -DTYPES_OUTPUT_DIR=${PROJECT_BINARY_DIR}/generated -P ${KIV_TYPE_TABLE_SCRIPT}
    DEPENDS "${input}" "${KIV_TYPE_TABLE_SCRIPT}" "${PROJECT_SOURCE_DIR}/cmake/cxx_names.cmake"
    COMMENT "Generating the type tables from ${KIV_TYPE_TABLE_SOURCE}"
    VERBATIM)
  target_sources(${target} PRIVATE ${KIV_TYPE_TABLE_OUTPUTS})
endfunction()
