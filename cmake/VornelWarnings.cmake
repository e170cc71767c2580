# Every target of ours compiles with the same warning set; third-party headers come in as system includes.
add_library(vornel_warnings INTERFACE)
target_compile_options(vornel_warnings INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor>
  $<$<COMPILE_LANG_AND_ID:C,GNU,Clang>:-Wall -Wextra -Wpedantic>
  $<$<BOOL:${VORNEL_WERROR}>:-Werror>)
