# The command's help text (help.txt) is the one source of `tolvane --help`
# and of the man page tolvane(1). help.txt's shape: a first line
# "name - summary", section titles in capitals at the line start, terms
# indented by two blanks with their text indented by six, and paragraphs
# indented by two.

# Writes a header that defines kHelpText and kVersionText.
function(tolvane_help_header help_file version out_file)
  file(READ ${help_file} text)
  file(WRITE ${out_file}.tmp
    "// Generated from help.txt; edit that file.\n#pragma once\n"
    "inline constexpr const char* kHelpText = R\"tolvanehelp(${text})tolvanehelp\";\n"
    "inline constexpr const char* kVersionText = \"tolvane ${version}\";\n")
  file(COPY_FILE ${out_file}.tmp ${out_file} ONLY_IF_DIFFERENT)
  file(REMOVE ${out_file}.tmp)
endfunction()

# Text of one line as roff: backslashes and hyphens escaped, a leading dot
# or quote kept from being read as a request.
function(_tolvane_roff_text line out_var)
  string(REPLACE "\\" "\\e" line "${line}")
  string(REPLACE "-" "\\-" line "${line}")
  if(line MATCHES "^[.']")
    set(line "\\&${line}")
  endif()
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()

# Writes the man page, gzipped as Debian wants it (no name or time stamp);
# the page carries no date, so builds are reproducible.
function(tolvane_man_page help_file version out_file)
  file(READ ${help_file} text)
  # Lines become list items; semicolons are held aside meanwhile.
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  list(POP_FRONT lines first)
  string(REGEX REPLACE "^([^ ]+) - (.*)$" "\\1 \\\\- \\2" name_line "${first}")
  set(roff ".TH TOLVANE 1 \"\" \"tolvane ${version}\" \"User Commands\"\n.SH NAME\n${name_line}\n")
  set(section "")
  list(LENGTH lines count)
  math(EXPR last "${count} - 1")
  foreach(at RANGE ${last})
    list(GET lines ${at} line)
    if(line STREQUAL "")
      if(NOT section STREQUAL "SYNOPSIS")
        string(APPEND roff ".PP\n")
      endif()
      continue()
    endif()
    if(line MATCHES "^[A-Z]")
      set(section "${line}")
      string(APPEND roff ".SH ${line}\n")
    elseif(line MATCHES "^      (.*)$")
      _tolvane_roff_text("${CMAKE_MATCH_1}" body)
      string(APPEND roff "${body}\n")
    elseif(line MATCHES "^  (.*)$")
      _tolvane_roff_text("${CMAKE_MATCH_1}" body)
      if(section STREQUAL "SYNOPSIS")
        string(APPEND roff "${body}\n.br\n")
      else()
        # A two-blank line followed by a six-blank one is a term.
        math(EXPR next "${at} + 1")
        set(next_line "")
        if(next LESS count)
          list(GET lines ${next} next_line)
        endif()
        if(next_line MATCHES "^      ")
          string(APPEND roff ".TP\n.B ${body}\n")
        else()
          string(APPEND roff "${body}\n")
        endif()
      endif()
    endif()
  endforeach()
  string(REPLACE ".PP\n.SH" ".SH" roff "${roff}")
  string(REPLACE ".PP\n.TP" ".TP" roff "${roff}")
  string(REGEX REPLACE "(\\.PP\n)+$" "" roff "${roff}")
  string(REPLACE "<semicolon>" ";" roff "${roff}")
  get_filename_component(dir ${out_file} DIRECTORY)
  file(WRITE ${dir}/tolvane.1 "${roff}")
  execute_process(COMMAND gzip -9nf ${dir}/tolvane.1 RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip of the man page failed")
  endif()
endfunction()
