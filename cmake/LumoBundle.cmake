# lumo_append_bundle(TARGET FOLDER): appends a bundle of FOLDER (see Tools/mkbundle) to the executable TARGET
# as a post-build step. Post-build steps run in the order they are added: call this after any strip step, so
# that the bundle stays the last bytes of the file. The target is rebuilt when a file of FOLDER changes only if
# the caller lists those files as sources or dependencies; the bundle is appended afresh on every link.
function(lumo_append_bundle target folder)
  add_dependencies(${target} mkbundle)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:mkbundle> $<TARGET_FILE:${target}> ${folder} $<TARGET_FILE:${target}>
    COMMENT "Appending the bundle of ${folder} to ${target}"
    VERBATIM)
endfunction()
