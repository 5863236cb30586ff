# Fails the configure step when a source under src/ includes a header of a layer above its own.
#
# The folders of src/, lowest layer first. A source may include headers of its own folder and
# of lower layers. Folders named together share a layer and stay apart: neither includes the
# other. A subfolder named here is a folder of its own (display/ui is not display).
set(OSTRACOM_LAYERS
  "link"
  "store"
  "model"
  "service"
  "display sms"
  "widgets"
  "display/ui sms/ui"
  "ui web"
  "app/cli app/gui")

# The named folder `path` lies in (the longest that is a prefix of it), or "" for none.
function(_ostracom_layer_folder path folders out)
  set(found "")
  set(found_length 0)
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${folder}/" AND length GREATER found_length)
      set(found "${folder}")
      set(found_length ${length})
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

function(ostracom_check_layers src_dir)
  set(folders "")
  set(rank 0)
  foreach(layer IN LISTS OSTRACOM_LAYERS)
    string(REPLACE " " ";" members "${layer}")
    foreach(folder IN LISTS members)
      list(APPEND folders "${folder}")
      set("rank_${folder}" ${rank})
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  string(REPLACE " " "," order "${OSTRACOM_LAYERS}")
  string(REPLACE ";" " < " order "${order}")

  file(GLOB_RECURSE sources RELATIVE "${src_dir}" "${src_dir}/*.h" "${src_dir}/*.cpp")
  list(SORT sources)
  set(problems "")
  foreach(source IN LISTS sources)
    _ostracom_layer_folder("${source}" "${folders}" from)
    if(from STREQUAL "")
      string(APPEND problems "\n  src/${source}: its folder is in no layer")
      continue()
    endif()
    file(STRINGS "${src_dir}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*/")
    foreach(line IN LISTS lines)
      string(REGEX MATCH "\"([^\"]*)\"" unused "${line}")
      set(header "${CMAKE_MATCH_1}")
      _ostracom_layer_folder("${header}" "${folders}" to)
      if(to STREQUAL "")
        # Not one of ours (a generated or third-party header), unless it names a folder of src/.
        string(REGEX MATCH "^[^/]+" top "${header}")
        if(IS_DIRECTORY "${src_dir}/${top}")
          string(APPEND problems "\n  src/${source} includes \"${header}\": its folder is in no layer")
        endif()
      elseif(NOT to STREQUAL from AND NOT ${rank_${to}} LESS ${rank_${from}})
        string(APPEND problems
          "\n  src/${source} includes \"${header}\": ${from}/ may not include ${to}/")
      endif()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Includes that run back up the layers of src/ (${order}):${problems}\n"
      "Move the code to the layer that needs it, or change the order in OSTRACOM_LAYERS "
      "(cmake/CheckLayers.cmake).")
  endif()
endfunction()

# cmake -DSOURCE_DIR=<folder> -P CheckLayers.cmake checks that folder as if it were src/.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED SOURCE_DIR)
  ostracom_check_layers("${SOURCE_DIR}")
endif()
