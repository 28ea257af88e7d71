; The stream buffer: one packet in internal RAM, on its way between USB and the bus
; (stream_state.h). A module of its own, so that the linker can place the smaller
; variables of the other modules in the gaps of the lower 128 bytes.
	.module stream_buffer

	.globl _stream_buffer

	PACKET_SIZE = 64

	.area DSEG (DATA)
_stream_buffer:
	.ds PACKET_SIZE
