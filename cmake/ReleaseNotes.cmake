# Reads the release notes (NEWS.md) and makes from them what the packages
# carry, so that the notes, the Debian changelog and the software centres'
# release list never disagree:
#   GPS_RELEASE_DATE        the newest release's date (YYYY-MM-DD)
#   GPS_DEBIAN_CHANGELOG    the whole Debian changelog, newest entry first
#   GPS_APPSTREAM_RELEASES  the AppStream <release> elements, newest first
# The newest section must name VERSION; the changelog's entries are signed
# by MAINTAINER.
#
# The notes' form (the head of NEWS.md says the same for their writers):
#   ## <version> (<YYYY-MM-DD>)
#   - an item, in the users' words,
#     continued on lines indented by two spaces
function(gps_release_notes news version maintainer)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${news})
  file(READ ${news} text)
  # CMake's lists are split at semicolons; brackets would group them.
  string(FIND "${text}" ";" semicolon)
  string(FIND "${text}" "[" open)
  string(FIND "${text}" "]" close)
  if(NOT semicolon EQUAL -1 OR NOT open EQUAL -1 OR NOT close EQUAL -1)
    message(FATAL_ERROR "${news}: no semicolons or square brackets, please (CMake reads it)")
  endif()
  file(STRINGS ${news} lines ENCODING UTF-8)

  set(changelog "")
  set(releases "")
  set(newest_version "")
  set(newest_date "")
  set(release_version "")
  set(item "")
  set(debian_items "")
  set(appstream_items "")

  # The item read so far joins its release's lists.
  macro(end_item)
    if(NOT item STREQUAL "")
      string(REPLACE "&" "&amp;" xml "${item}")
      string(REPLACE "<" "&lt;" xml "${xml}")
      string(REPLACE ">" "&gt;" xml "${xml}")
      string(APPEND appstream_items "          <li>${xml}</li>\n")
      set(item "")
    endif()
  endmacro()
  # The release read so far becomes a changelog entry and a <release>.
  macro(end_release)
    end_item()
    if(NOT release_version STREQUAL "")
      if(debian_items STREQUAL "")
        message(FATAL_ERROR "${news}: the release ${release_version} lists no change")
      endif()
      execute_process(COMMAND date -u -R -d ${release_date}
                      OUTPUT_VARIABLE rfc5322 OUTPUT_STRIP_TRAILING_WHITESPACE
                      COMMAND_ERROR_IS_FATAL ANY)
      if(NOT changelog STREQUAL "")
        string(APPEND changelog "\n")
      endif()
      string(APPEND changelog
             "gps-update (${release_version}) unstable; urgency=medium\n\n"
             "${debian_items}\n -- ${maintainer}  ${rfc5322}\n")
      string(APPEND releases
             "    <release version=\"${release_version}\" date=\"${release_date}\">\n"
             "      <description>\n        <ul>\n${appstream_items}        </ul>\n"
             "      </description>\n    </release>\n")
      set(debian_items "")
      set(appstream_items "")
    endif()
  endmacro()

  foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(line MATCHES "^## ([0-9][0-9.]*) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
      end_release()
      set(release_version ${CMAKE_MATCH_1})
      set(release_date ${CMAKE_MATCH_2})
      if(newest_version STREQUAL "")
        set(newest_version ${release_version})
        set(newest_date ${release_date})
      endif()
    elseif(release_version STREQUAL "")
      # The head of the file, for its writers.
    elseif(length GREATER 76)
      message(FATAL_ERROR "${news}: a line longer than 76 characters: ${line}")
    elseif(line MATCHES "^- (.+)$")
      end_item()
      set(item "${CMAKE_MATCH_1}")
      string(APPEND debian_items "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +([^ ].*)$" AND NOT item STREQUAL "")
      string(APPEND item " ${CMAKE_MATCH_1}")
      string(APPEND debian_items "    ${CMAKE_MATCH_1}\n")
    elseif(NOT line MATCHES "^[ ]*$")
      message(FATAL_ERROR "${news}: neither a release's heading nor an item: ${line}")
    endif()
  endforeach()
  end_release()

  if(NOT newest_version STREQUAL version)
    message(FATAL_ERROR "${news}: the newest release is '${newest_version}', but the project's "
                        "version is ${version}: add its section to ${news}")
  endif()
  set(GPS_RELEASE_DATE ${newest_date} PARENT_SCOPE)
  set(GPS_DEBIAN_CHANGELOG "${changelog}" PARENT_SCOPE)
  set(GPS_APPSTREAM_RELEASES "${releases}" PARENT_SCOPE)
endfunction()
