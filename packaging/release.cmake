# The release this source is, from the newest entry of packaging/changelog
# (Debian's format, shipped in the Debian package): it must name the
# project's version, and its date and signer become the manual page's date,
# the packages' maintainer and the time stamp of every file in them
# (SOURCE_DATE_EPOCH, unless the environment sets one when cpack runs).
#   QTR_RELEASE_DATE        e.g. "December 2026"
#   QTR_RELEASE_EPOCH       seconds since 1970 of the entry's date
#   QTR_RELEASE_MAINTAINER  "Name <address>"
set(QTR_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QTR_CHANGELOG})
file(STRINGS ${QTR_CHANGELOG} qtr_heading LIMIT_COUNT 1)
file(STRINGS ${QTR_CHANGELOG} qtr_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT qtr_heading MATCHES "^qtr-author \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not version ${PROJECT_VERSION} (project()): ${qtr_heading}")
endif()
set(qtr_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
set(qtr_month_names January February March April May June July August September October November December)
if(NOT qtr_trailer MATCHES
   "^ -- (.+ <[^>]+>)  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) \\+0000$")
  message(FATAL_ERROR "packaging/changelog: the newest entry's signature line has no date in UTC: ${qtr_trailer}")
endif()
set(QTR_RELEASE_MAINTAINER "${CMAKE_MATCH_1}")
set(day ${CMAKE_MATCH_2})
list(FIND qtr_months ${CMAKE_MATCH_3} month)
if(month EQUAL -1)
  message(FATAL_ERROR "packaging/changelog: no month ${CMAKE_MATCH_3} in: ${qtr_trailer}")
endif()
list(GET qtr_month_names ${month} month_name)
math(EXPR month "${month} + 1")
set(year ${CMAKE_MATCH_4})
math(EXPR seconds "${CMAKE_MATCH_5} * 3600 + ${CMAKE_MATCH_6} * 60 + ${CMAKE_MATCH_7}")
# Days since 1970-01-01 of a date in the Gregorian calendar (years counted
# from March, so that the leap day ends a year).
if(month LESS_EQUAL 2)
  math(EXPR y "${year} - 1")
  math(EXPR m "${month} + 9")
else()
  set(y ${year})
  math(EXPR m "${month} - 3")
endif()
math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${day} - 1 - 719468")
math(EXPR QTR_RELEASE_EPOCH "${days} * 86400 + ${seconds}")
set(QTR_RELEASE_DATE "${month_name} ${year}")
