# Project code is held to -Wconversion and -Wsign-conversion: a value that
# may not fit its new type is converted visibly (a cast where the narrowing is
# meant) or not at all. With RK40_WERROR every warning in project code fails
# the build; the CI build (make build, make test) turns it on.
# Tests, fuzzers and the code Qt generates (moc, rcc) keep the common warnings
# only, and Qt's headers are system headers, so neither can fail the build.

# Every buildable target defined in `dir` and the folders below it.
function(rk40_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    rk40_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Applies the strict warnings to the compiled targets of the given folders.
function(rk40_strict_warnings)
  set(flags -Wconversion -Wsign-conversion)
  if(RK40_WERROR)
    list(APPEND flags -Werror)
  endif()
  rk40_collect_targets(${CMAKE_SOURCE_DIR} all)
  foreach(dir IN LISTS ARGN)
    set(targets "")
    set(folder ${CMAKE_SOURCE_DIR}/${dir})
    foreach(target IN LISTS all)
      get_target_property(home ${target} SOURCE_DIR)
      cmake_path(IS_PREFIX folder ${home} NORMALIZE inside)
      if(inside)
        list(APPEND targets ${target})
      endif()
    endforeach()
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
        # Only our own sources: not what moc, rcc or configure_file write.
        get_target_property(sources ${target} SOURCES)
        get_target_property(base ${target} SOURCE_DIR)
        foreach(source IN LISTS sources)
          if(source MATCHES "\\.(c|cc|cpp|cxx)$" AND NOT source MATCHES "^\\$<")
            cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${base})
            cmake_path(IS_PREFIX CMAKE_SOURCE_DIR ${source} NORMALIZE ours)
            cmake_path(IS_PREFIX CMAKE_BINARY_DIR ${source} NORMALIZE built)
            if(ours AND NOT built)
              set_property(SOURCE ${source} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS ${flags})
            endif()
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
endfunction()
