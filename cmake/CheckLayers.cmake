# The subsystem libraries stand in layers, lowest first. A library may include
# and link only the libraries below it; the stand-ins in platform/ know nothing
# of the system at all (the system may use them). Anything else is refused
# here, by two checks:
#
# korvane_check_layers(<source tree>): the sources. Quoted includes name a
#   header of the file's own layer or a lower one, and an `extern` declaration
#   names nothing that only a higher layer declares or defines (the way round
#   an include). Runs when the project is configured and again on every build,
#   also as a script:
#     cmake -DKORVANE_LAYER_ROOT=<source tree> -P CheckLayers.cmake
#
# korvane_check_layer_links(<platform folder>): the build. Reads the link
#   properties of every korvane_<layer> library and of every library defined
#   below the platform folder, following our own helper targets in between,
#   so a link is judged by the target it names however it is written. Call it
#   once every folder has been added (the end of the top-level CMakeLists).
#
# Tests run both on small trees with a deliberate fault.

set(KORVANE_LAYERS core inspection camera records cycle ui settings window app)

function(_korvane_refuse faults)
  if(faults)
    list(JOIN KORVANE_LAYERS " < " _order)
    list(JOIN faults "\n  " _text)
    message(FATAL_ERROR "Layer order platform < ${_order} broken:\n  ${_text}")
  endif()
endfunction()

function(korvane_check_layers root)
  # Which layer owns which header: include lines name headers by file name.
  foreach(_layer ${KORVANE_LAYERS})
    file(GLOB_RECURSE _headers "${root}/${_layer}/*.h")
    foreach(_h ${_headers})
      get_filename_component(_name "${_h}" NAME)
      set("_owner_${_name}" "${_layer}")
    endforeach()
  endforeach()

  # The platform stand-ins come first with the index -1: every layer is
  # above them.
  set(_faults "")
  set(_externs "")
  set(_index -1)
  foreach(_layer platform ${KORVANE_LAYERS})
    file(GLOB_RECURSE _files "${root}/${_layer}/*.h" "${root}/${_layer}/*.cpp")
    set(_text "")
    foreach(_f ${_files})
      file(RELATIVE_PATH _rel "${root}" "${_f}")
      # Includes.
      file(STRINGS "${_f}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(_line ${_lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _inc "${_line}")
        get_filename_component(_name "${_inc}" NAME)
        if(DEFINED "_owner_${_name}")
          set(_target_layer "${_owner_${_name}}")
          list(FIND KORVANE_LAYERS "${_target_layer}" _target_index)
          if(_target_index GREATER _index)
            list(APPEND _faults "${_rel} includes ${_inc} of the higher layer ${_target_layer}")
          endif()
        endif()
      endforeach()
      # extern declarations, judged below once every layer has been read.
      file(STRINGS "${_f}" _lines REGEX "^[ \t]*extern[ \t]")
      foreach(_line IN LISTS _lines)
        if(_line MATCHES "^[ \t]*extern[ \t]+(\"|template[ \t<])")
          continue()
        endif()
        string(REGEX REPLACE "//.*" "" _decl "${_line}")
        # Template arguments may hold parentheses (std::function<void(int)>):
        # drop them, innermost first.
        set(_before "")
        while(NOT _before STREQUAL _decl)
          set(_before "${_decl}")
          string(REGEX REPLACE "<[^<>]*>" "" _decl "${_decl}")
        endwhile()
        # A reference or pointer to an array: (&name)[n].
        string(REGEX REPLACE "\\([ \t]*[&*]+[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\)" " \\1" _decl "${_decl}")
        if(_decl MATCHES "([A-Za-z_][A-Za-z0-9_]*)[ \t]*[(\\[;=]")
          list(APPEND _externs "${_index}|${_rel}|${CMAKE_MATCH_1}")
        endif()
      endforeach()
      # What the layer declares and defines at file scope: lines that start
      # in the first column, its own extern declarations left out.
      file(READ "${_f}" _content)
      string(APPEND _text "\n${_content}")
    endforeach()
    string(REGEX REPLACE "\n[ \t]*extern[ \t][^\n]*" "\n" _text "${_text}")
    set("_defined_${_index}" "${_text}")
    math(EXPR _index "${_index} + 1")
  endforeach()

  # An extern declaration stands for an include of whichever layer declares
  # or defines the name; the lowest such layer must not be above the file's.
  list(LENGTH KORVANE_LAYERS _count)
  math(EXPR _top "${_count} - 1")
  foreach(_extern IN LISTS _externs)
    string(REPLACE "|" ";" _parts "${_extern}")
    list(GET _parts 0 _index)
    list(GET _parts 1 _rel)
    list(GET _parts 2 _name)
    set(_pattern "\n[A-Za-z_][^\n]*[^A-Za-z0-9_:\n]${_name}[ \t]*[(\\[;={]")
    set(_own_or_lower FALSE)
    foreach(_i RANGE -1 ${_index})
      if(_defined_${_i} MATCHES "${_pattern}")
        set(_own_or_lower TRUE)
        break()
      endif()
    endforeach()
    if(_own_or_lower OR _index EQUAL _top)
      continue()
    endif()
    math(EXPR _above "${_index} + 1")
    foreach(_i RANGE ${_above} ${_top})
      if(_defined_${_i} MATCHES "${_pattern}")
        list(GET KORVANE_LAYERS ${_i} _higher)
        list(APPEND _faults "${_rel} declares extern ${_name} of the higher layer ${_higher}")
        break()
      endif()
    endforeach()
  endforeach()

  _korvane_refuse("${_faults}")
endfunction()

# The targets that a target links, as the names of targets (aliases resolved):
# private and public links of a library, whatever generator expressions they
# are wrapped in.
function(_korvane_linked_targets out target)
  get_target_property(_type ${target} TYPE)
  set(_props INTERFACE_LINK_LIBRARIES)
  if(NOT _type STREQUAL "INTERFACE_LIBRARY")
    list(APPEND _props LINK_LIBRARIES)
  endif()
  set(_linked "")
  foreach(_prop ${_props})
    get_target_property(_items ${target} ${_prop})
    if(NOT _items)
      continue()
    endif()
    foreach(_item IN LISTS _items)
      # $<LINK_ONLY:x>, $<$<CONFIG:Debug>:x>: keep what follows the colon.
      string(REGEX REPLACE "\\$<[A-Za-z0-9_]+:" " " _item "${_item}")
      string(REGEX MATCHALL "[A-Za-z0-9_.+-]+(::[A-Za-z0-9_.+-]+)*" _words "${_item}")
      foreach(_word ${_words})
        if(TARGET ${_word})
          get_target_property(_aliased ${_word} ALIASED_TARGET)
          if(_aliased)
            set(_word ${_aliased})
          endif()
          list(APPEND _linked ${_word})
        endif()
      endforeach()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES _linked)
  set(${out} "${_linked}" PARENT_SCOPE)
endfunction()

# Every target reachable from a target through our own targets; third-party
# (imported) targets end a path, and so do the targets in the list `ends`
# (the layer libraries, checked on their own).
function(_korvane_reachable out target ends)
  set(_seen "")
  set(_queue ${target})
  while(_queue)
    list(POP_FRONT _queue _t)
    _korvane_linked_targets(_linked ${_t})
    foreach(_l ${_linked})
      if(NOT _l IN_LIST _seen)
        list(APPEND _seen ${_l})
        get_target_property(_imported ${_l} IMPORTED)
        if(NOT _imported AND NOT _l IN_LIST ends)
          list(APPEND _queue ${_l})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} "${_seen}" PARENT_SCOPE)
endfunction()

# The targets defined in a folder and the folders below it.
function(_korvane_targets_below out dir)
  get_property(_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(_sub ${_subdirs})
    _korvane_targets_below(_more "${_sub}")
    list(APPEND _targets ${_more})
  endforeach()
  set(${out} "${_targets}" PARENT_SCOPE)
endfunction()

function(korvane_check_layer_links platform_dir)
  set(_faults "")
  set(_platform "")
  if(platform_dir AND EXISTS "${platform_dir}")
    _korvane_targets_below(_platform "${platform_dir}")
  endif()

  set(_layer_libs "")
  foreach(_layer ${KORVANE_LAYERS})
    list(APPEND _layer_libs korvane_${_layer})
  endforeach()

  # A platform library links only platform libraries and third-party ones
  # (every platform library is looked at, so its direct links are enough).
  foreach(_lib ${_platform})
    _korvane_linked_targets(_linked ${_lib})
    foreach(_r ${_linked})
      get_target_property(_imported ${_r} IMPORTED)
      if(NOT _imported AND NOT _r IN_LIST _platform)
        list(APPEND _faults "the platform library ${_lib} links ${_r} of the system")
      endif()
    endforeach()
  endforeach()

  # A layer library reaches no library of a higher layer, neither directly
  # nor through a helper target of ours.
  set(_index 0)
  foreach(_layer ${KORVANE_LAYERS})
    if(TARGET korvane_${_layer})
      _korvane_reachable(_reached korvane_${_layer} "${_layer_libs}")
      foreach(_r ${_reached})
        if(_r MATCHES "^korvane_(.+)$")
          list(FIND KORVANE_LAYERS "${CMAKE_MATCH_1}" _r_index)
          if(_r_index GREATER _index)
            list(APPEND _faults "korvane_${_layer} links ${_r} of the higher layer ${CMAKE_MATCH_1}")
          endif()
        endif()
      endforeach()
    endif()
    math(EXPR _index "${_index} + 1")
  endforeach()

  _korvane_refuse("${_faults}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND KORVANE_LAYER_ROOT)
  korvane_check_layers("${KORVANE_LAYER_ROOT}")
endif()
