// Linked into obj2xml.exe only: its operands' wildcards are expanded at
// start-up, as a Windows console program does, and the first match is
// converted. xml2obj.exe expands none, so that a pattern cannot pick the
// object it writes.
extern "C" {
int _dowildcard = -1;
}
