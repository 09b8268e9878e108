# The warnings our own code is built with, on an interface target that each
# of our targets links: third-party code built here (GoogleTest in a cross
# build) keeps its own. -Werror is an option, for the test script, so that
# a developer's build does not break on a newer compiler's new warning.
option(PICTRIM_WERROR "Fail the build on any warning" OFF)

add_library(pictrim_warnings INTERFACE)
target_compile_options(pictrim_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                  $<$<BOOL:${PICTRIM_WERROR}>:-Werror>)

# Links pictrim_warnings into every compiled target defined under `dir`
# and the folders below it that belong to the project.
function(pictrim_warn_targets dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      target_link_libraries(${target} PRIVATE pictrim_warnings)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${subdir} NORMALIZE ours)
    if(ours)
      pictrim_warn_targets(${subdir})
    endif()
  endforeach()
endfunction()
