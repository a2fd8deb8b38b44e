# Fails when DOC differs from what TOOL generates; regenerate with `pathmere-pack reference > DOC`.
execute_process(COMMAND ${TOOL} reference OUTPUT_VARIABLE generated RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} reference failed (${status})")
endif()
file(READ ${DOC} documented)
if(NOT generated STREQUAL documented)
  message(FATAL_ERROR "${DOC} is out of date: run `pathmere-pack reference > docs/configuration.md`")
endif()
