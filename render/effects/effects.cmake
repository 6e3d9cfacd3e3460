# The effect files are text (see render/effect_file.h); the build places them
# next to the executables, where the programs load them at device creation.
set(VARDEL_EFFECTS simpledraw cutscenerenderer)
set(VARDEL_EFFECT_OUTPUTS "")
foreach(effect IN LISTS VARDEL_EFFECTS)
  set(source ${CMAKE_SOURCE_DIR}/render/effects/${effect}.fx)
  set(output ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${effect}.fxo)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
                     DEPENDS ${source}
                     COMMENT "Placing effect ${effect}.fxo")
  list(APPEND VARDEL_EFFECT_OUTPUTS ${output})
endforeach()
add_custom_target(vardel_effects ALL DEPENDS ${VARDEL_EFFECT_OUTPUTS})
add_dependencies(vardel_render vardel_effects)
