// The stand-in's prints on standard output (StandinPrint, AVS_STANDIN_PRINTS).

#include "../helpers/stdout_prints.h"
#include "standin.h"

namespace standin {

void print_on_stdout(const std::string& when)
{
    print_on_stdout_every_way("standin", when);
}

}  // namespace standin
