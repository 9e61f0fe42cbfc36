# Dependencies point downwards: a rule here fails the configuration when a library reaches
# one it must not, directly or through others, so that a forbidden dependency cannot come back
# unnoticed.

# Every library target reaches, transitively, through its link libraries.
function(orvo_reached_libraries target out)
    set(reached "")
    set(pending ${target})
    while(pending)
        list(POP_FRONT pending current)
        if(NOT TARGET ${current})
            continue()
        endif()
        get_target_property(aliased ${current} ALIASED_TARGET)
        if(aliased)
            set(current ${aliased})
        endif()
        get_target_property(direct ${current} LINK_LIBRARIES)
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        foreach(library IN LISTS direct interface)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
            if(library AND NOT library MATCHES "NOTFOUND$" AND NOT library IN_LIST reached)
                list(APPEND reached ${library})
                list(APPEND pending ${library})
            endif()
        endforeach()
    endwhile()
    set(${out} ${reached} PARENT_SCOPE)
endfunction()

# orvo_forbid_dependency(TARGET FORBIDDEN...): TARGET must reach none of FORBIDDEN.
function(orvo_forbid_dependency target)
    orvo_reached_libraries(${target} reached)
    foreach(forbidden IN LISTS ARGN)
        if(forbidden IN_LIST reached)
            message(FATAL_ERROR "${target} must not depend on ${forbidden}")
        endif()
    endforeach()
endfunction()

# orvo_limit_dependencies(TARGET ALLOWED...): TARGET reaches nothing but ALLOWED.
function(orvo_limit_dependencies target)
    orvo_reached_libraries(${target} reached)
    foreach(library IN LISTS reached)
        if(NOT library IN_LIST ARGN)
            message(FATAL_ERROR "${target} must depend on nothing but ${ARGN}, not on ${library}")
        endif()
    endforeach()
endfunction()
