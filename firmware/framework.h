/* Shared state and routines of the adapter firmware's USB framework. */
#ifndef FRAMEWORK_H
#define FRAMEWORK_H

extern __bit setup_pending;
extern __bit suspend_pending;
extern __bit remote_wakeup_enabled;
extern __bit self_powered;

extern unsigned char current_configuration;
extern unsigned char current_alt_setting;

/* Addresses of the descriptor block's parts in the chip's memory. */
extern unsigned int device_descriptor_ptr;
extern unsigned int config_descriptor_ptr;
extern unsigned int string_descriptor_ptr;

/* Placed by the start-up module. */
extern __code unsigned char device_descriptor[];
extern __code unsigned char config_descriptor[];
extern __code unsigned char string_descriptor0[];

void wait_1ms(void);
void wait_ms(unsigned int n);
void handle_setup_request(void);

#endif
