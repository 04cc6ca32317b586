# Fails when a source file includes a header of a layer above its own, or a
# third-party header outside the subsystem that wraps it. Run as
#   cmake -DROOT=<source tree> -P CheckLayering.cmake
# Each rule: a folder, and the include prefixes its files may use.
set(platform_all "base/,registry/,binding/,script/")
set(rules
    "platform/base|base/"
    "platform/registry|base/,registry/"
    "platform/binding|base/,registry/,binding/"
    "platform/script|base/,registry/,binding/,script/"
    "platform/usb|base/,usb/"
    "bridge/xap|${platform_all},xap/"
    "bridge/host|${platform_all},xap/,host/"
    "bridge/gateway|${platform_all},xap/,host/,gateway/"
    "bridge/web|${platform_all},xap/,host/,gateway/,web/"
    "bridge/mqtt|${platform_all},xap/,host/,gateway/,mqtt/"
    "bridge/app|${platform_all},xap/,host/,gateway/,web/,mqtt/,app/"
    "bridge/desktop|${platform_all},xap/,host/,gateway/,web/,mqtt/,app/,desktop/"
    "plugin/settings|base/,registry/,binding/,settings/"
    "plugin/radio|base/,registry/,binding/,usb/,settings/,radio/"
    "plugin/hspi|base/,registry/,binding/,settings/,radio/,hspi/"
    "plugin/ui|base/,registry/,binding/,settings/,radio/,hspi/,ui/")
# Third-party headers and the only folder that may include them.
set(private_headers "libusb|platform/usb/libusb" "lua|platform/script" "lauxlib|platform/script"
                    "lualib|platform/script" "mosquitto|bridge/mqtt")

set(failures "")
foreach(rule ${rules})
    string(REPLACE "|" ";" parts "${rule}")
    list(GET parts 0 folder)
    list(GET parts 1 allowed)
    string(REPLACE "," ";" allowed "${allowed}")
    file(GLOB_RECURSE files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(f ${files})
        file(STRINGS "${f}" lines REGEX "^#include \"")
        foreach(line ${lines})
            string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
            set(ok FALSE)
            foreach(prefix ${allowed})
                string(FIND "${header}" "${prefix}" at)
                if(at EQUAL 0)
                    set(ok TRUE)
                endif()
            endforeach()
            if(NOT ok)
                file(RELATIVE_PATH rel "${ROOT}" "${f}")
                list(APPEND failures "${rel}: ${header}")
            endif()
        endforeach()
    endforeach()
endforeach()

file(GLOB_RECURSE all_sources "${ROOT}/platform/*.h" "${ROOT}/platform/*.cpp" "${ROOT}/bridge/*.h"
     "${ROOT}/bridge/*.cpp" "${ROOT}/plugin/*.h" "${ROOT}/plugin/*.cpp" "${ROOT}/tools/*.h"
     "${ROOT}/tools/*.cpp")
foreach(f ${all_sources})
    file(STRINGS "${f}" lines REGEX "^#include <")
    file(RELATIVE_PATH rel "${ROOT}" "${f}")
    foreach(pair ${private_headers})
        string(REPLACE "|" ";" parts "${pair}")
        list(GET parts 0 name)
        list(GET parts 1 home)
        foreach(line ${lines})
            if(line MATCHES "^#include <${name}[.]")
                string(FIND "${rel}" "${home}/" at)
                if(NOT at EQUAL 0)
                    list(APPEND failures "${rel}: <${name}> outside ${home}")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "includes against the layering:\n  ${text}")
endif()
message(STATUS "layering: ${ROOT} keeps its layers")
