# VD_SANITIZE=address,undefined or VD_SANITIZE=thread instruments the whole build.
if(VD_SANITIZE)
  add_compile_options(-fsanitize=${VD_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VD_SANITIZE})
endif()
