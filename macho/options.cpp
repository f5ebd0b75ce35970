#include "options.h"

extern "C" {

int object_processing = 1;
int Lflag = 1;
int Dflag = 0;
int raded_first_ofile_map = 1;
int aflag = 0;
int Sflag = 0;
int hflag = 0;
int lflag = 0;
int rflag = 0;
int Tflag = 0;
int Mflag = 0;
int Rflag = 0;
int Iflag = 0;
int Hflag = 0;
int tflag = 0;
int iflag = 0;
int dflag = 0;
int oflag = 0;
int cflag = 0;
int vflag = 0;
int Vflag = 0;
int Xflag = 0;
int Zflag = 0;
int Wflag = 0;
int fflag = 0;
int Oflag = 0;
char* pflag = nullptr;
char* segname = nullptr;
char* sectname = nullptr;
}
