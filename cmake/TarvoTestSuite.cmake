# tarvo_test_suite(<target> LABEL <label> [PREFIX <prefix>] [SCREEN] [FILTER <gtest filter>]
#                  [ENVIRONMENT <VAR=value>] [ENVIRONMENT_MODIFICATION <VAR=op:value>]
#                  [RUN_SERIAL] [NO_PRETTY_VALUES])
# Registers every GoogleTest case of <target> as a ctest test named "<prefix><Suite>.<case>"
# (PREFIX defaults to "<label>.") carrying <label>. SCREEN runs the cases on Qt's offscreen
# platform. Call it again with another PREFIX and FILTER to run one binary in two settings.
function(tarvo_test_suite target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "SCREEN;RUN_SERIAL;NO_PRETTY_VALUES"
                          "LABEL;PREFIX;FILTER;ENVIRONMENT;ENVIRONMENT_MODIFICATION" "")
    if(NOT arg_LABEL)
        message(FATAL_ERROR "tarvo_test_suite(${target}): LABEL is required")
    endif()
    if(NOT DEFINED arg_PREFIX)
        set(arg_PREFIX "${arg_LABEL}.")
    endif()
    set(properties LABELS ${arg_LABEL})
    # ctest's ENVIRONMENT is a list; the discovery script takes one value per property.
    if(arg_SCREEN AND arg_ENVIRONMENT)
        message(FATAL_ERROR "tarvo_test_suite(${target}): SCREEN and ENVIRONMENT together")
    elseif(arg_SCREEN)
        list(APPEND properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    elseif(arg_ENVIRONMENT)
        list(APPEND properties ENVIRONMENT "${arg_ENVIRONMENT}")
    endif()
    if(arg_ENVIRONMENT_MODIFICATION)
        list(APPEND properties ENVIRONMENT_MODIFICATION "${arg_ENVIRONMENT_MODIFICATION}")
    endif()
    if(arg_RUN_SERIAL)
        list(APPEND properties RUN_SERIAL TRUE)
    endif()
    set(extra)
    if(arg_FILTER)
        list(APPEND extra TEST_FILTER "${arg_FILTER}")
    endif()
    if(arg_NO_PRETTY_VALUES)
        list(APPEND extra NO_PRETTY_VALUES)
    endif()
    gtest_discover_tests(${target}
        TEST_PREFIX "${arg_PREFIX}"
        ${extra}
        PROPERTIES ${properties}
        DISCOVERY_TIMEOUT 60)
endfunction()
