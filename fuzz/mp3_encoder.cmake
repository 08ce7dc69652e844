bellwave_fuzz_target(mp3_encoder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mp3_encoder_fuzz.cpp LIBS mp3enc ${MP3LAME_LIBRARY}
                     MADE_SEEDS)
