// Built with exactly the tool's flags. The tool keeps its locals off the
// stack (see at_exchange), so only a function like this one shows whether
// the stack protector is really on for them.
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    char name[64];
    strncpy(name, argc > 0 ? argv[0] : "", sizeof name - 1);
    name[sizeof name - 1] = '\0';
    return puts(name) < 0;
}
