# The house rule that turns a language word into a C++ name, shared by the
# generators: - becomes _, a final ? becomes _q, ~ goes, a C++ keyword takes
# a trailing _. kiv_cxx_name(word out source) fails the build, naming
# source, when the result is no C++ name.

set(KIV_CXX_KEYWORDS alignas alignof and and_eq asm auto bitand bitor bool break case catch
    char class compl const continue default delete do double else enum explicit export
    extern false float for friend goto if inline int long mutable namespace new noexcept
    not not_eq nullptr operator or or_eq private protected public register return short
    signed sizeof static struct switch template this throw true try typedef typeid
    typename union unsigned using virtual void volatile while xor xor_eq)

function(kiv_cxx_name word out source)
  string(REGEX REPLACE "\\?$" "_q" name "${word}")
  string(REPLACE "-" "_" name "${name}")
  string(REPLACE "~" "" name "${name}")
  if(NOT name MATCHES "^[a-z][a-z0-9_]*$")
    message(FATAL_ERROR "${source}: '${word}' makes no C++ name")
  endif()
  list(FIND KIV_CXX_KEYWORDS "${name}" keyword)
  if(NOT keyword EQUAL -1)
    string(APPEND name "_")
  endif()
  set(${out} "${name}" PARENT_SCOPE)
endfunction()
