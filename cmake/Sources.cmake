# The library's sources, one explicit list per layer. Each layer is an object
# library that names the layers it builds on:
#
#   framework   component base, strings, lists, threads, clock, time
#   codec       the SMS codec (pure functions) and the reassembly of long
#               messages, which takes the time from outside
#   at          the AT answer layer: received text framed into results, and
#               the rules that read them (pure functions)
#   platform    the serial device behind one interface, one backend per
#               operating system
#   connection  the port's life: the state machine, the reader and reconnect
#               threads, and the host interface through which it asks the
#               component (which implements it, with Open and Close)
#   component   TVeskGSM itself: commands, the dispatcher, sending, the
#               scan, the codec methods, port input and output
#
# `veskgsm`, the library applications link, holds them all; a test binary
# links the smallest archive that holds what it tests (codec tests link the
# codec alone, the answer layer's tests the answer layer and the codec).
#
# A new source file goes into its layer's list below, one file a line.
# tools/check-layers.sh (make check-layers, run by CI) fails when a source
# file of the library is in no list or in the wrong one, and when a file
# includes a header its layer may not use; the rules are at its top.

set(VESK_FRAMEWORK_SOURCES
    component/Component.cpp
    component/Enums.cpp
    component/Framework.cpp
    component/Thread.cpp)
set(VESK_FRAMEWORK_SOURCES_POSIX
    component/posix_platform.cpp)
set(VESK_FRAMEWORK_SOURCES_WIN32
    component/win32_platform.cpp)

set(VESK_CODEC_SOURCES
    codec/Alphabet.cpp
    codec/Deliver.cpp
    codec/MessagePlan.cpp
    codec/Packing.cpp
    codec/StatusReport.cpp
    codec/Submit.cpp
    codec/TextMode.cpp
    incoming/Reassembly.cpp)

set(VESK_AT_SOURCES
    commands/Answers.cpp
    commands/Errors.cpp
    commands/Indications.cpp
    commands/ModemState.cpp
    commands/StateAnswers.cpp
    incoming/Framing.cpp)

# No portable sources: only the backends.
set(VESK_PLATFORM_SOURCES_POSIX
    port/posix_serial.cpp)
set(VESK_PLATFORM_SOURCES_WIN32
    port/win32_serial.cpp)

set(VESK_CONNECTION_SOURCES
    port/Connection.cpp
    threads/ComThread.cpp
    threads/LineWatch.cpp
    threads/ReconnectThread.cpp)

set(VESK_COMPONENT_SOURCES
    codec/VeskGSMCodec.cpp
    commands/Device.cpp
    commands/Execute.cpp
    commands/Indication.cpp
    commands/Setup.cpp
    commands/State.cpp
    commands/Storage.cpp
    commands/Ussd.cpp
    component/Health.cpp
    component/TrafficLog.cpp
    component/VeskGSM.cpp
    detection/Detect.cpp
    incoming/ComponentParts.cpp
    incoming/Dispatcher.cpp
    incoming/Notices.cpp
    incoming/Pairing.cpp
    incoming/Reports.cpp
    port/LineSettings.cpp
    port/OpenClose.cpp
    port/PortIO.cpp
    port/PortList.cpp
    sending/Send.cpp
    sending/Split.cpp)

# The public interface: component/VeskGSM.h and every header it includes,
# installed under include/veskgsm/ with the same layout, so that an
# application's `#include "component/VeskGSM.h"` reads the same in the tree
# and against an installed package. tools/check-layers.sh fails when
# VeskGSM.h comes to include a header missing here.
set(VESK_PUBLIC_HEADERS
    codec/MessagePlan.h
    commands/Errors.h
    commands/ModemState.h
    codec/Submit.h
    component/Component.h
    component/DeliveryReports.h
    component/Health.h
    component/Enums.h
    component/Framework.h
    component/Thread.h
    component/VeskGSM.h
    port/SerialDevice.h)

if(WIN32)
  set(_vesk_os WIN32)
else()
  set(_vesk_os POSIX)
endif()

# vesk_layer(<name> [USES <layer>...]): the object library vesk_<name>_obj
# from VESK_<NAME>_SOURCES and this system's VESK_<NAME>_SOURCES_<OS>.
function(vesk_layer name)
  cmake_parse_arguments(L "" "" "USES" ${ARGN})
  string(TOUPPER ${name} upper)
  set(target vesk_${name}_obj)
  add_library(${target} OBJECT ${VESK_${upper}_SOURCES} ${VESK_${upper}_SOURCES_${_vesk_os}})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC Threads::Threads PRIVATE vesk_warnings)
  # Usage requirements only: an object library links no objects of another.
  foreach(layer ${L_USES})
    target_link_libraries(${target} PUBLIC vesk_${layer}_obj)
  endforeach()
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ${VESK_SHARED})
endfunction()

vesk_layer(framework)
vesk_layer(codec USES framework)
vesk_layer(at USES framework codec)
vesk_layer(platform USES framework)
vesk_layer(connection USES framework platform)
vesk_layer(component USES framework codec at platform connection)

# Archives of the lower layers, for the test binaries and benchmarks that
# need only them.
add_library(vesk_framework STATIC $<TARGET_OBJECTS:vesk_framework_obj>)
target_include_directories(vesk_framework PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vesk_framework PUBLIC Threads::Threads)

add_library(vesk_codec STATIC $<TARGET_OBJECTS:vesk_codec_obj>)
target_link_libraries(vesk_codec PUBLIC vesk_framework)

add_library(vesk_at STATIC $<TARGET_OBJECTS:vesk_at_obj>)
target_link_libraries(vesk_at PUBLIC vesk_codec)

add_library(vesk_platform STATIC $<TARGET_OBJECTS:vesk_platform_obj>)
target_link_libraries(vesk_platform PUBLIC vesk_framework)

# The library applications link: static unless VESK_SHARED.
if(VESK_SHARED)
  set(_vesk_kind SHARED)
else()
  set(_vesk_kind STATIC)
endif()
add_library(veskgsm ${_vesk_kind}
            $<TARGET_OBJECTS:vesk_framework_obj> $<TARGET_OBJECTS:vesk_codec_obj> $<TARGET_OBJECTS:vesk_at_obj>
            $<TARGET_OBJECTS:vesk_platform_obj> $<TARGET_OBJECTS:vesk_connection_obj>
            $<TARGET_OBJECTS:vesk_component_obj>)
add_library(veskgsm::veskgsm ALIAS veskgsm)
target_include_directories(veskgsm PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
                                          $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/veskgsm>)
target_link_libraries(veskgsm PUBLIC Threads::Threads)
target_compile_features(veskgsm PUBLIC cxx_std_17)
# The shared library's name carries the major version (libveskgsm.so.1), its
# file the whole (libveskgsm.so.1.42). The sources declare no exports: on
# Windows every symbol is exported.
set_target_properties(veskgsm PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
                                         WINDOWS_EXPORT_ALL_SYMBOLS ON)
