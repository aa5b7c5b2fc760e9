# The layers of the product and what each may use. Checked at configure
# time, twice: the includes of every source file, and the libraries every
# target of a product folder links. An include or a link that runs upwards,
# or two folders that include each other, stops the configuration.
#
#   control    -> platform
#   core       -> remote, platform
#   remote     -> platform
#   pages      -> core, platform
#   shell      -> pages, core, remote, platform
#   terminalops-> control (its protocol's result texts), platform
#   tools      -> core, remote, terminalops, platform
#   languages  -> platform
set(rk40_layer_allowed_platform platform)
set(rk40_layer_allowed_control control platform)
set(rk40_layer_allowed_core core remote platform)
set(rk40_layer_allowed_remote remote platform)
set(rk40_layer_allowed_pages pages core platform)
set(rk40_layer_allowed_shell shell pages core remote platform)
set(rk40_layer_allowed_terminalops terminalops control platform)
set(rk40_layer_allowed_tools tools core remote terminalops platform)
set(rk40_layer_allowed_languages languages platform)

# The layer of a path relative to the source root (or of an include path),
# or "" for one outside the product's layers.
function(rk40_layer_of path out)
  set(layer "")
  if(path MATCHES "^configurator/([a-z]+)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(path MATCHES "^(core|pages|remote|shell)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(path MATCHES "^(platform|control|terminalops|tools|languages)/")
    set(layer ${CMAKE_MATCH_1})
  endif()
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

function(rk40_check_includes)
  file(GLOB_RECURSE sources RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/platform/*.h ${CMAKE_SOURCE_DIR}/platform/*.cpp
    ${CMAKE_SOURCE_DIR}/control/*.h ${CMAKE_SOURCE_DIR}/control/*.cpp
    ${CMAKE_SOURCE_DIR}/configurator/*.h ${CMAKE_SOURCE_DIR}/configurator/*.cpp
    ${CMAKE_SOURCE_DIR}/terminalops/*.h ${CMAKE_SOURCE_DIR}/terminalops/*.cpp
    ${CMAKE_SOURCE_DIR}/tools/*.h ${CMAKE_SOURCE_DIR}/tools/*.cpp
    ${CMAKE_SOURCE_DIR}/languages/*.h ${CMAKE_SOURCE_DIR}/languages/*.cpp)
  set(errors "")
  set(edges "")
  foreach(source ${sources})
    rk40_layer_of(${source} from)
    get_filename_component(from_dir ${source} DIRECTORY)
    file(STRINGS ${CMAKE_SOURCE_DIR}/${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" included "${line}")
      rk40_layer_of(${included} to)
      if(to STREQUAL "")
        continue()
      endif()
      if(NOT to IN_LIST rk40_layer_allowed_${from})
        string(APPEND errors "  ${source} (${from}) includes ${included} (${to})\n")
      endif()
      get_filename_component(to_dir ${included} DIRECTORY)
      if(to_dir MATCHES "^(core|pages|remote|shell)(/|$)")
        set(to_dir configurator/${to_dir})
      endif()
      if(NOT to_dir STREQUAL from_dir)
        list(APPEND edges "${from_dir}>${to_dir}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES edges)
  foreach(edge ${edges})
    string(REPLACE ">" ";" ends ${edge})
    list(GET ends 0 a)
    list(GET ends 1 b)
    if("${b}>${a}" IN_LIST edges AND a STRLESS b)
      string(APPEND errors "  ${a} and ${b} include each other\n")
    endif()
  endforeach()
  if(errors)
    message(FATAL_ERROR "Includes against the layering:\n${errors}")
  endif()
endfunction()

function(rk40_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    rk40_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(rk40_check_links)
  rk40_collect_targets(${CMAKE_SOURCE_DIR} targets)
  set(errors "")
  foreach(target ${targets})
    get_target_property(dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
    rk40_layer_of("${rel}/" from)
    if(from STREQUAL "")
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    set(deps "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(deps ${target} LINK_LIBRARIES)
    endif()
    get_target_property(ideps ${target} INTERFACE_LINK_LIBRARIES)
    foreach(dep ${deps} ${ideps})
      if(NOT TARGET ${dep} OR dep MATCHES "::")
        continue()
      endif()
      get_target_property(dep_dir ${dep} SOURCE_DIR)
      file(RELATIVE_PATH dep_rel ${CMAKE_SOURCE_DIR} ${dep_dir})
      rk40_layer_of("${dep_rel}/" to)
      if(NOT to STREQUAL "" AND NOT to IN_LIST rk40_layer_allowed_${from})
        string(APPEND errors "  ${target} (${from}) links ${dep} (${to})\n")
      endif()
    endforeach()
  endforeach()
  if(errors)
    message(FATAL_ERROR "Links against the layering:\n${errors}")
  endif()
endfunction()

rk40_check_includes()
rk40_check_links()
