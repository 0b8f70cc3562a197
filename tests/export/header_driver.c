/* Runs an exported C header as a program outside Trelis would:
 *   header_driver INPUTS ROWS OUTPUTS
 * reads ROWS rows of TRELIS_INPUTS raw floats, writes TRELIS_OUTPUTS raw
 * floats for each, and prints the class names of a pattern network, one a
 * line. Compiled against the header under test as "network.h". */
#include "network.h"

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    static float input[TRELIS_INPUTS];
    float output[TRELIS_OUTPUTS];
    FILE *in, *out;
    long rows, r;
    if (argc != 4)
        return 2;
    in = fopen(argv[1], "rb");
    out = fopen(argv[3], "wb");
    rows = strtol(argv[2], NULL, 10);
    if (in == NULL || out == NULL)
        return 1;
    for (r = 0; r < rows; ++r) {
        if (fread(input, sizeof input, 1, in) != 1)
            return 1;
        trelis_forward(input, output);
        if (fwrite(output, sizeof output, 1, out) != 1)
            return 1;
    }
#ifdef TRELIS_RETINA_WIDTH
    for (r = 0; r < TRELIS_OUTPUTS; ++r)
        printf("%s\n", trelis_class_names[r]);
#endif
    fclose(in);
    return fclose(out) == 0 ? 0 : 1;
}
