# The subsystem libraries stand in layers, lowest first. A library may include
# and link only the libraries below it; anything else is refused here, when
# the project is configured, and by a test that runs this file on a tree with
# a deliberate fault.
#
# As a script: cmake -DKORVANE_LAYER_ROOT=<source tree> -P CheckLayers.cmake

set(KORVANE_LAYERS core inspection camera records cycle ui settings window app)

function(korvane_check_layers root)
  # Which layer owns which header: include lines name headers by file name.
  set(_owner_names "")
  foreach(_layer ${KORVANE_LAYERS})
    file(GLOB_RECURSE _headers "${root}/${_layer}/*.h")
    foreach(_h ${_headers})
      get_filename_component(_name "${_h}" NAME)
      set("_owner_${_name}" "${_layer}")
    endforeach()
  endforeach()

  set(_faults "")
  set(_index 0)
  foreach(_layer ${KORVANE_LAYERS})
    # Includes of every source file of the layer.
    file(GLOB_RECURSE _files "${root}/${_layer}/*.h" "${root}/${_layer}/*.cpp")
    foreach(_f ${_files})
      file(STRINGS "${_f}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(_line ${_lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _inc "${_line}")
        get_filename_component(_name "${_inc}" NAME)
        if(DEFINED "_owner_${_name}")
          set(_target_layer "${_owner_${_name}}")
          list(FIND KORVANE_LAYERS "${_target_layer}" _target_index)
          if(_target_index GREATER _index)
            file(RELATIVE_PATH _rel "${root}" "${_f}")
            list(APPEND _faults "${_rel} includes ${_inc} of the higher layer ${_target_layer}")
          endif()
        endif()
      endforeach()
    endforeach()
    # Links named in the layer's build file.
    if(EXISTS "${root}/${_layer}/CMakeLists.txt")
      file(READ "${root}/${_layer}/CMakeLists.txt" _build)
      string(REGEX MATCHALL "korvane_[a-z]+" _linked "${_build}")
      foreach(_lib ${_linked})
        string(REGEX REPLACE "^korvane_" "" _lib_layer "${_lib}")
        list(FIND KORVANE_LAYERS "${_lib_layer}" _lib_index)
        if(_lib_index GREATER _index)
          list(APPEND _faults "${_layer}/CMakeLists.txt links ${_lib} of the higher layer ${_lib_layer}")
        endif()
      endforeach()
    endif()
    math(EXPR _index "${_index} + 1")
  endforeach()

  if(_faults)
    list(JOIN _faults "\n  " _text)
    message(FATAL_ERROR "Layer order ${KORVANE_LAYERS} broken:\n  ${_text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND KORVANE_LAYER_ROOT)
  korvane_check_layers("${KORVANE_LAYER_ROOT}")
endif()
