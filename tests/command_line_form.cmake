# The run asked for on the command line, row by row against the dialog with
# the same answers: the same pattern file, byte for byte, and the same exit
# status; and its refusals, each with its line on standard error, exit
# status 1 and no file made.
# -DPROGRAM=program -DWORK=scratch folder, optionally -DEMULATOR=command
# before the program and -DWINDOWS=ON when it is built for Windows.
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)
set(ENV{WINEDEBUG} -all)
file(REMOVE_RECURSE "${WORK}")
set(failures "")

# A data file of 3 cases of 2 values, its patterns (1,2) twice and (2,1).
set(data "1 2\n2 1\n1 2\n")
set(patterns "  2  1      1\r\n  1  2      2\r\n")

# Runs the program in `folder` with `arguments` and the bytes `answers` on
# standard input; sets <prefix>_status, and <prefix>_stdout and
# <prefix>_stderr in hexadecimal, so that no CR is lost.
function(run prefix folder answers)
  file(WRITE "${folder}/../answers-${prefix}" "${answers}")
  execute_process(COMMAND ${EMULATOR} "${PROGRAM}" ${ARGN} WORKING_DIRECTORY "${folder}"
                  INPUT_FILE "${folder}/../answers-${prefix}" OUTPUT_FILE "${folder}/../stdout-${prefix}"
                  ERROR_FILE "${folder}/../stderr-${prefix}" RESULT_VARIABLE status)
  file(READ "${folder}/../stdout-${prefix}" out HEX)
  file(READ "${folder}/../stderr-${prefix}" err HEX)
  set(${prefix}_status "${status}" PARENT_SCOPE)
  set(${prefix}_stdout "${out}" PARENT_SCOPE)
  set(${prefix}_stderr "${err}" PARENT_SCOPE)
endfunction()

# A folder holding the data file `name` (folders of its path made), of the
# bytes `data`, or of those given after the name.
function(fresh folder name)
  file(MAKE_DIRECTORY "${folder}")
  if(ARGC GREATER 2)
    set(data "${ARGV2}")
  endif()
  if(NOT name STREQUAL "")
    file(WRITE "${folder}/${name}" "${data}")
  endif()
endfunction()

function(fail row text)
  set(failures "${failures}${row}: ${text}\n" PARENT_SCOPE)
endfunction()

# Whether the hexadecimal `bytes` are those of `text`.
function(holds result bytes text)
  string(HEX "${text}" expected)
  if(bytes STREQUAL expected)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# A row that runs: DATA the data file's name, OUTPUT the pattern file's,
# ANSWERS the dialog's four answers, ARGS the command line. The pattern
# file and the status must be the dialog's, the pattern file `patterns`,
# and standard error the summary line `SUMMARY` with the system's line end.
function(same row)
  cmake_parse_arguments(PARSE_ARGV 1 row "" "DATA;OUTPUT;ANSWERS;SUMMARY" "ARGS")
  fresh("${WORK}/${row}/line" "${row_DATA}")
  fresh("${WORK}/${row}/dialog" "${row_DATA}")
  run(line "${WORK}/${row}/line" "" ${row_ARGS})
  run(dialog "${WORK}/${row}/dialog" "${row_ANSWERS}")
  file(READ "${WORK}/${row}/line/${row_OUTPUT}" line_patterns HEX)
  file(READ "${WORK}/${row}/dialog/${row_OUTPUT}" dialog_patterns HEX)
  holds(right_patterns "${line_patterns}" "${patterns}")
  holds(summary "${line_stderr}" "aggregate: ${row_SUMMARY}${line_end}")
  if(NOT line_status EQUAL dialog_status OR NOT line_status EQUAL 0)
    fail(${row} "exit status ${line_status}, the dialog's ${dialog_status}")
  elseif(NOT right_patterns OR NOT line_patterns STREQUAL dialog_patterns)
    fail(${row} "pattern file ${line_patterns}, the dialog's ${dialog_patterns} (hexadecimal)")
  elseif(NOT summary OR NOT line_stdout STREQUAL "")
    fail(${row} "standard output ${line_stdout}, standard error ${line_stderr} (hexadecimal)")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

# A row that is refused: DATA the data file made, if any (of the bytes
# CONTENT when given), and ARGS; standard error must be "aggregate: " and
# REASON, and no file may be made.
function(refused row)
  cmake_parse_arguments(PARSE_ARGV 1 row "" "DATA;CONTENT;REASON" "ARGS")
  if(DEFINED row_CONTENT)
    fresh("${WORK}/${row}/line" "${row_DATA}" "${row_CONTENT}")
  else()
    fresh("${WORK}/${row}/line" "${row_DATA}")
  endif()
  run(line "${WORK}/${row}/line" "" ${row_ARGS})
  file(GLOB_RECURSE left RELATIVE "${WORK}/${row}/line" "${WORK}/${row}/line/*")
  holds(reason "${line_stderr}" "aggregate: ${row_REASON}${line_end}")
  if(NOT line_status EQUAL 1 OR NOT line_stdout STREQUAL "")
    fail(${row} "exit status ${line_status}, standard output ${line_stdout} (hexadecimal)")
  elseif(NOT reason)
    file(READ "${WORK}/${row}/stderr-line" text)
    fail(${row} "standard error [${text}]")
  elseif(NOT left STREQUAL "${row_DATA}")
    fail(${row} "the folder holds [${left}]")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

if(WINDOWS)
  set(line_end "\r\n")
else()
  set(line_end "\n")
endif()
set(long "survey-wave-1-final-cleaned-by-the-fieldwork-team.dat")

same(Plain DATA data.txt OUTPUT out.txt ANSWERS "data.txt\nout.txt\n3\n2\n"
     ARGS --output out.txt --cases 3 --variables 2 data.txt
     SUMMARY "3 cases of 2 variables read; 2 patterns written to out.txt")
same(CountsInferred DATA data.txt OUTPUT out.txt ANSWERS "data.txt\nout.txt\n3\n2\n"
     ARGS data.txt --output=out.txt
     SUMMARY "3 cases of 2 variables read; 2 patterns written to out.txt")
same(NamesWithBlanksSlashesCommasApostrophes DATA "my data/it's, 2024.dat" OUTPUT "my data/p, 1.txt"
     ANSWERS "'my data/it''s, 2024.dat'\n'my data/p, 1.txt'\n3\n2\n"
     ARGS --cases=3 --variables=2 --output "my data/p, 1.txt" -- "my data/it's, 2024.dat"
     SUMMARY "3 cases of 2 variables read; 2 patterns written to my data/p, 1.txt")
same(NamesOverFortyCharacters DATA "${long}" OUTPUT "${long}.patterns"
     ANSWERS "${long}\n${long}.patterns\n3\n2\n" ARGS --output "${long}.patterns" "${long}"
     SUMMARY "3 cases of 2 variables read; 2 patterns written to ${long}.patterns")

refused(NotInferred DATA data.txt CONTENT "1 2\nx 1\n" ARGS --output out.txt data.txt
        REASON "cannot tell the numbers of cases and variables of data.txt: line 2 holds a value the program cannot read; aggregate --inspect data.txt tells more")
refused(InferredCountsWouldWriteAsterisks DATA data.txt CONTENT "1 2\n1000 1\n" ARGS --output out.txt data.txt
        REASON "cannot tell the numbers of cases and variables of data.txt: values would be written as *** (the first: 1000, variable 1, line 2): recode them into -99 to 999 first")
refused(CountWithACommaInIt DATA data.txt ARGS --output out.txt --cases 1,000 --variables 2 data.txt
        REASON "--cases takes a number written in digits alone, at most 2147483647, not \"1,000\"")
refused(CountOfNought DATA data.txt ARGS --output out.txt --cases 3 --variables 0 data.txt
        REASON "--variables must be at least 1, not 0")
refused(OneCountOnly DATA data.txt ARGS --output out.txt --cases 3 data.txt
        REASON "give both --cases and --variables, or neither")
refused(MissingValue DATA data.txt ARGS data.txt --output
        REASON "--output needs a value after it")
refused(UnknownOption DATA data.txt ARGS --output out.txt --variable 2 data.txt
        REASON "unknown option --variable (aggregate --help shows the options; -- before a data file whose name starts with -)")
refused(MissingDataFile ARGS --output out.txt --cases 3 --variables 2 data.txt
        REASON "no such data file: data.txt")
refused(MissingOutputFolder DATA data.txt ARGS --output none/out.txt --cases 3 --variables 2 data.txt
        REASON "cannot make none/out.txt: a folder of its path does not exist")
refused(OptionWithExtraLetters DATA data.txt ARGS --outputs out.txt data.txt
        REASON "unknown option --outputs (aggregate --help shows the options; -- before a data file whose name starts with -)")
refused(OutputIsTheDataFile DATA data.txt ARGS --output ./data.txt --cases 3 --variables 2 data.txt
        REASON "the pattern file ./data.txt is the data file data.txt itself, which it would replace: give the pattern file a name of its own")
refused(TooManyCases DATA data.txt ARGS --output out.txt --cases 2147483647 --variables 1 data.txt
        REASON "no memory for 2147483647 cases of 1 variable (4 GiB at most)")
if(NOT WINDOWS)
  refused(CountsOfADevice DATA data.txt ARGS --output out.txt /dev/null
          REASON "/dev/null is not a regular file, so it cannot be inspected before it is read: give --cases and --variables")
endif()

# Names taken whole, a blank before them and all: the data file " d.dat"
# beside "d.dat", the pattern file " z". (Windows drops blanks at the end.)
fresh("${WORK}/WholeNames/line" " d.dat")
file(WRITE "${WORK}/WholeNames/line/d.dat" "9 9\n")
run(line "${WORK}/WholeNames/line" "" --output " z" " d.dat")
file(READ "${WORK}/WholeNames/line/ z" whole_patterns HEX)
holds(right_patterns "${whole_patterns}" "${patterns}")
holds(summary "${line_stderr}" "aggregate: 3 cases of 2 variables read; 2 patterns written to  z${line_end}")
if(NOT line_status EQUAL 0 OR NOT right_patterns OR NOT summary)
  fail(WholeNames "exit status ${line_status}, pattern file ${whole_patterns}, standard error ${line_stderr} (hexadecimal)")
endif()

# A delimited export: its cases those of `data`, with a header row, quoted
# row names, a weight left out and a missing answer coded.
function(exported row content)
  fresh("${WORK}/${row}/line" data.csv "${content}")
  run(line "${WORK}/${row}/line" "" ${ARGN} data.csv)
  file(READ "${WORK}/${row}/line/out.txt" line_patterns HEX)
  holds(right_patterns "${line_patterns}" "  2  1      1\r\n  1  9      2\r\n")
  if(NOT line_status EQUAL 0 OR NOT right_patterns)
    fail(${row} "exit status ${line_status}, pattern file ${line_patterns}, standard error ${line_stderr} (hexadecimal)")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()
set(export "\"\",\"q1\",\"w\",\"q2\"\r\n\"1\",1,0.5,NA\r\n\"2\",2,1.5,1\r\n\"3\",1,2,NA\r\n")
exported(Export "${export}" --output out.txt --header --columns q1,q2 --missing 9)
exported(ExportTabs "q1\tw\tq2\n1\t0,5\t\n2\t1,5\t1\n1\t2\t\n" --output=out.txt --header --columns=1,3 --missing=9 --delimiter=tab)
refused(ExportMissing DATA data.csv CONTENT "${export}" ARGS --output out.txt --header --columns q1,q2 data.csv
        REASON "q2 on line 2 is missing (\"NA\"): give --missing CODE for missing answers")
refused(ExportDecimal DATA data.csv CONTENT "${export}" ARGS --output out.txt --header --columns 2-3 data.csv
        REASON "w on line 2 is not a whole number (\"0.5\"): leave the column out with --columns")
refused(ExportUnequal DATA data.csv CONTENT "1,2\n1,2,3\n" ARGS --output out.txt --delimiter , data.csv
        REASON "line 2 holds 3 fields where the first record holds 2: choose the columns with --columns")
refused(ExportNoCases DATA data.csv CONTENT "q1,q2\n\n" ARGS --output out.txt --header data.csv
        REASON "data.csv holds no cases after its header")
refused(ExportCode DATA data.csv ARGS --output out.txt --missing -100 data.csv
        REASON "--missing takes a whole number from -99 to 999, not \"-100\"")

# The pattern records on the console, each record's first character taken
# for carriage control, and never mixed with the summary.
fresh("${WORK}/Console/line" data.txt)
run(line "${WORK}/Console/line" "" --output CON --cases 3 --variables 2 data.txt)
holds(records "${line_stdout}" " 2  1      1\r\n 1  2      2\r\n")
holds(summary "${line_stderr}" "aggregate: 3 cases of 2 variables read; 2 patterns written to CON${line_end}")
if(NOT line_status EQUAL 0 OR NOT records OR NOT summary)
  fail(Console "exit status ${line_status}, standard output ${line_stdout}, standard error ${line_stderr} (hexadecimal)")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
