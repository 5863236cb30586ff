# Runs the layer check on a small tree: every back-include is named, no allowed one is.
# cmake -DWORK_DIR=<empty scratch folder> -P CheckLayersTest.cmake
set(cases
  # source               include                     refused
  "link/a.cpp            store/strings.h             yes"
  "model/b.h             widgets/masked_edit.h       yes"
  "display/c.cpp         display/ui/chart.h          yes"
  "display/d.cpp         sms/sms_messages.h             yes"
  "widgets/e.cpp         ui/ostracom_form.h          yes"
  "foreign/f.cpp         link/error.h                yes"
  "store/g.cpp           foreign/h.h                 yes"
  "store/i.cpp           link/error.h                no"
  "display/ui/j.cpp      display/chart_plot.h        no"
  "display/ui/k.cpp      display/ui/chart.h          no"
  "ui/l.cpp              widgets/masked_edit.h       no"
  "app/cli/m.cpp         ostracom_version.h          no")

file(REMOVE_RECURSE "${WORK_DIR}")
foreach(c IN LISTS cases)
  string(REGEX REPLACE " +" ";" c "${c}")
  list(GET c 0 source)
  list(GET c 1 header)
  file(APPEND "${WORK_DIR}/src/${source}" "#include \"${header}\"\n")
endforeach()

execute_process(
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK_DIR}/src -P ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake
  RESULT_VARIABLE rc ERROR_VARIABLE output)
if(rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with back-includes")
endif()
# CMake wraps long message lines; the names are read with the line breaks taken out.
string(REGEX REPLACE "[ \n]+" " " output "${output}")
foreach(c IN LISTS cases)
  string(REGEX REPLACE " +" ";" c "${c}")
  list(GET c 0 source)
  list(GET c 1 header)
  list(GET c 2 refused)
  string(FIND "${output}" "src/${source}" named)
  if(refused AND named EQUAL -1)
    message(SEND_ERROR "not refused: ${source} including ${header}")
  elseif(NOT refused AND NOT named EQUAL -1)
    message(SEND_ERROR "refused wrongly: ${source} including ${header}")
  endif()
endforeach()
