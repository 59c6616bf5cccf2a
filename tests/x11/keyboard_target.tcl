# A typing target for the keyboard tests: one text widget with the focus, driven over stdin.
#   dump   -> the widget's content as UTF-8, preceded by its length in bytes and a newline
#   count  -> the number of characters in the widget
#   clear  -> empties the widget, answers "ok"
#   chord  -> the last Shift+Insert or Ctrl+Insert seen ("none" before any), answers it
# The window title is the first argument.
wm title . [lindex $argv 0]
wm geometry . 600x300+50+50
text .t -undo 0 -wrap char
pack .t -fill both -expand 1
focus -force .t
set lastChord none
bind .t <Shift-Key-Insert> {set ::lastChord shift-insert}
bind .t <Control-Key-Insert> {set ::lastChord ctrl-insert}

fconfigure stdin -translation lf -encoding utf-8
fconfigure stdout -translation binary

proc answer {text} {
    set bytes [encoding convertto utf-8 $text]
    puts -nonewline stdout "[string length $bytes]\n$bytes"
    flush stdout
}

proc command {} {
    if {[gets stdin line] < 0} {
        exit 0
    }
    switch -- $line {
        dump {answer [.t get 1.0 end-1c]}
        count {answer [.t count -chars 1.0 end-1c]}
        clear {
            .t delete 1.0 end
            set ::lastChord none
            answer ok
        }
        chord {answer $::lastChord}
        default {answer "unknown command"}
    }
}
fileevent stdin readable command
