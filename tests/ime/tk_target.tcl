# A Tk text window for the input method tests (XIM): its text goes to a file after every change.
lassign $argv title out
wm title . $title
text .t
pack .t
focus .t
proc save {} {
    global out
    set f [open $out.new w]
    fconfigure $f -encoding utf-8
    puts -nonewline $f [.t get 1.0 {end - 1 chars}]
    close $f
    file rename -force $out.new $out
}
bind .t <<Modified>> {save; .t edit modified 0}
