#include "run/run_state.h"

unsigned char cart_buffer[BUFFER_SIZE];
unsigned char image_buffer[BUFFER_SIZE];
unsigned char first_read[BUFFER_SIZE];
int data_length;
char input_path[PATH_SIZE];
char backup_prefix[PATH_SIZE];
RunMode run_mode;
SaveType save_type;
int save_size;
HANDLE adapter_handle = INVALID_HANDLE_VALUE;
bool adapter_connected;
