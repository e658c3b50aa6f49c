# The library is built from four groups of sources. Each group is an object
# library; test binaries link only the groups they test, and `veskgsm`, the
# static library applications link, holds them all.

# The framework layer and the component's vocabulary.
file(GLOB VESK_FRAMEWORK_SOURCES CONFIGURE_DEPENDS
     component/Framework.cpp component/Enums.cpp component/Thread.cpp component/Component.cpp)
if(WIN32)
  list(APPEND VESK_FRAMEWORK_SOURCES component/win32_platform.cpp)
else()
  list(APPEND VESK_FRAMEWORK_SOURCES component/posix_platform.cpp)
endif()

# The SMS codec: pure functions plus the reassembly collection.
file(GLOB VESK_CODEC_SOURCES CONFIGURE_DEPENDS codec/*.cpp incoming/Reassembly*.cpp)
list(FILTER VESK_CODEC_SOURCES EXCLUDE REGEX ".*/VeskGSMCodec\\.cpp$")

# The AT answer layer: received text framed into results, and the rules
# that read them. Pure functions over the codec's header fields.
set(VESK_AT_SOURCES incoming/Framing.cpp commands/Answers.cpp commands/Indications.cpp)

# The serial device layer: one backend per platform.
if(WIN32)
  set(VESK_PLATFORM_SOURCES port/win32_serial.cpp)
else()
  set(VESK_PLATFORM_SOURCES port/posix_serial.cpp)
endif()

# The component: everything else.
file(GLOB VESK_COMPONENT_SOURCES CONFIGURE_DEPENDS
     component/VeskGSM*.cpp component/TrafficLog.cpp component/Register.cpp
     port/Connection.cpp port/LineSettings.cpp port/PortIO.cpp port/PortList.cpp port/SerialDevice.cpp
     threads/*.cpp commands/*.cpp incoming/*.cpp sending/*.cpp detection/*.cpp codec/VeskGSMCodec.cpp)
list(FILTER VESK_COMPONENT_SOURCES EXCLUDE REGEX ".*/incoming/Reassembly.*\\.cpp$")
list(FILTER VESK_COMPONENT_SOURCES EXCLUDE REGEX ".*/(incoming/Framing|commands/Answers|commands/Indications)\\.cpp$")

function(vesk_object_library name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC Threads::Threads PRIVATE vesk_warnings)
endfunction()

vesk_object_library(vesk_framework_obj ${VESK_FRAMEWORK_SOURCES})
if(VESK_CODEC_SOURCES)
  vesk_object_library(vesk_codec_obj ${VESK_CODEC_SOURCES})
endif()
vesk_object_library(vesk_at_obj ${VESK_AT_SOURCES})
vesk_object_library(vesk_platform_obj ${VESK_PLATFORM_SOURCES})
if(VESK_COMPONENT_SOURCES)
  vesk_object_library(vesk_component_obj ${VESK_COMPONENT_SOURCES})
endif()

# Small archives for the test binaries.
add_library(vesk_framework STATIC $<TARGET_OBJECTS:vesk_framework_obj>)
target_include_directories(vesk_framework PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vesk_framework PUBLIC Threads::Threads)

if(TARGET vesk_codec_obj)
  add_library(vesk_codec STATIC $<TARGET_OBJECTS:vesk_codec_obj>)
  target_link_libraries(vesk_codec PUBLIC vesk_framework)
endif()

add_library(vesk_at STATIC $<TARGET_OBJECTS:vesk_at_obj>)
target_link_libraries(vesk_at PUBLIC vesk_codec)

add_library(vesk_platform STATIC $<TARGET_OBJECTS:vesk_platform_obj>)
target_link_libraries(vesk_platform PUBLIC vesk_framework)

# The library applications link.
set(_vesk_objects $<TARGET_OBJECTS:vesk_framework_obj> $<TARGET_OBJECTS:vesk_platform_obj>
                  $<TARGET_OBJECTS:vesk_at_obj>)
if(TARGET vesk_codec_obj)
  list(APPEND _vesk_objects $<TARGET_OBJECTS:vesk_codec_obj>)
endif()
if(TARGET vesk_component_obj)
  list(APPEND _vesk_objects $<TARGET_OBJECTS:vesk_component_obj>)
endif()
add_library(veskgsm STATIC ${_vesk_objects})
target_include_directories(veskgsm PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(veskgsm PUBLIC Threads::Threads)
