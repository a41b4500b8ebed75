# Warning flags shared by every gearloft target; errors unless GEARLOFT_WERROR is off.
add_library(gearloft_warnings INTERFACE)
if(MSVC)
  target_compile_options(gearloft_warnings INTERFACE /W4 /permissive- $<$<BOOL:${GEARLOFT_WERROR}>:/WX>)
else()
  target_compile_options(gearloft_warnings INTERFACE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                         $<$<BOOL:${GEARLOFT_WERROR}>:-Werror>)
endif()
