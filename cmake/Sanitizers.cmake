# MIROLAN_SANITIZE: "" (none), "address" (ASan+UBSan) or "thread" (TSan).
set(MIROLAN_SANITIZE "" CACHE STRING "Sanitizer build: address or thread")
if(MIROLAN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(MIROLAN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
