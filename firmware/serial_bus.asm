; Serial engine: clocks bytes over the cartridge's save-memory bus. Every store is a
; whole-byte write of the bus output register, back to back, so the bus runs at the
; speed of this instruction sequence; written in assembly, with the eight bits of a
; byte unrolled, to keep that sequence short: streamed reads and writes spend most of
; their time here. A bit out takes 9 cycles (1.5 us at 6 MHz, 667 kHz), a bit in 11
; (545 kHz); the bytes of a run follow each other with 6 more cycles between them.
;
; Bus output register bits: 0x01 data to the memory, 0x02 clock, 0x04 deselect.
; Bus input register bit 0: data from the memory.
; Both registers lie in the register page 0x7F00-0x7FFF; the output register is
; reached by MOVX @R0 through MPAGE, the input register through the data pointer, so
; that R1 is free for the bytes, which stay in internal RAM: the stream buffer
; (stream_buffer.asm) or a byte of its own.
; Only the EP1 handlers call these; like the C code, they may use A, B, DPTR, PSW
; and R0-R7 freely (the handlers save them).
	.module serial_bus

	.globl _out_reg_ptr
	.globl _in_reg_ptr
	.globl _bus_shift_out
	.globl _bus_shift_in
	.globl _bus_shift_out_bytes
	.globl _bus_shift_out_bytes_PARM_2
	.globl _bus_shift_in_bytes
	.globl _bus_shift_in_bytes_PARM_2
	.globl _bus_prefetch_packet
	.globl _buffer_to_in1buf
	.globl _out1buf_to_buffer
	.globl _stream_buffer

	.include "ezusb_registers.inc" ; the EZ-USB register list, from ezusb_registers.h
	MPAGE = 0x92            ; high address byte of MOVX @Ri
	PACKET_SIZE = 64

	.area DSEG (DATA)
_bus_shift_out_bytes_PARM_2:
	.ds 1
_bus_shift_in_bytes_PARM_2:
	.ds 1
bus_byte:                       ; the byte of bus_shift_out and bus_shift_in
	.ds 1

	.area CSEG (CODE)

; MPAGE and R0 onto the bus output register, DPTR onto the bus input register, R2 the
; clock bit. The caller saves MPAGE first.
bus_registers:
	mov MPAGE,(_out_reg_ptr + 1)
	mov r0,_out_reg_ptr
	mov dpl,_in_reg_ptr
	mov dph,(_in_reg_ptr + 1)
	mov r2,#0x02
	ret

; One bit out, the bit of B given: store the bit with the clock low (the memory
; selected; the clock falls where it was high), then with the clock high (the memory
; takes the bit).
	.macro OUT_BIT bit
	mov c,bit
	clr a
	rlc a                   ; A = 0x00 or 0x01
	movx @r0,a
	orl a,r2
	movx @r0,a
	.endm

; One bit in, into the bit of B given: store 0x02 (clock high, memory selected),
; sample bit 0 of the input register, store 0x00 (clock falls, the memory presents
; its next bit).
	.macro IN_BIT bit
	mov a,r2
	movx @r0,a
	movx a,@dptr
	rrc a                   ; CY = data in
	mov bit,c
	clr a
	movx @r0,a
	.endm

; The R7 bytes (at least one) of internal RAM from R1 on out, most significant bit
; first; after the last one: store 0x00. The memory is selected from the first store
; on and stays selected, clock low at the end.
out_bytes:
	mov b,@r1
	inc r1
	OUT_BIT b.7
	OUT_BIT b.6
	OUT_BIT b.5
	OUT_BIT b.4
	OUT_BIT b.3
	OUT_BIT b.2
	OUT_BIT b.1
	OUT_BIT b.0
	djnz r7,out_bytes
	clr a
	movx @r0,a
	ret

; R7 bytes (at least one) in, most significant bit first, into internal RAM from R1
; on; the clock is low after each byte.
in_bytes:
	IN_BIT b.7
	IN_BIT b.6
	IN_BIT b.5
	IN_BIT b.4
	IN_BIT b.3
	IN_BIT b.2
	IN_BIT b.1
	IN_BIT b.0
	mov @r1,b
	inc r1
	djnz r7,in_bytes
	ret

; bus_shift_out(b), b in DPL.
_bus_shift_out:
	mov bus_byte,dpl
	mov r1,#bus_byte
	mov r7,#1
	sjmp out_run

; bus_shift_out_bytes(first, count), first in DPL: the count bytes of internal RAM
; from address first on. A count of 0 clocks nothing.
_bus_shift_out_bytes:
	mov a,_bus_shift_out_bytes_PARM_2
	jz out_done
	mov r7,a
	mov r1,dpl
out_run:
	push MPAGE
	acall bus_registers
	acall out_bytes
	pop MPAGE
out_done:
	ret

; bus_shift_in(), result in DPL.
_bus_shift_in:
	mov r1,#bus_byte
	mov r7,#1
	acall in_run
	mov dpl,bus_byte
	ret

; bus_shift_in_bytes(first, count), first in DPL: count bytes (at least one) into
; internal RAM from address first on.
_bus_shift_in_bytes:
	mov r1,dpl
	mov r7,_bus_shift_in_bytes_PARM_2
in_run:
	push MPAGE
	acall bus_registers
	acall in_bytes
	pop MPAGE
	ret

; bus_prefetch_packet(): the next packet of a streamed read into the stream buffer,
; half a packet at a time, while the host takes the one in EP1 IN. Result in CY (a
; bit, as the compiler returns it): set where it stopped because OP_STREAM_END came
; first. The handler of OP_STREAM_END runs only once the EP1 IN handler has returned,
; and the host may meanwhile take what EP1 IN holds: an EP1 OUT packet waiting while
; EP1 IN still holds a packet of the stream is OP_STREAM_END (the one operation the
; host sends during a stream), sent before that packet was taken, which is then the
; last. The host needs a frame between sending the one and taking the other; the
; checks, before, between and after the halves, are at most 0.5 ms apart.
_bus_prefetch_packet:
	push MPAGE
	acall bus_registers
	mov r1,#_stream_buffer
	mov r6,#2
prefetch_half:
	acall end_came_first
	jc prefetch_stop
	mov r7,#(PACKET_SIZE / 2)
	acall in_bytes
	djnz r6,prefetch_half
	acall end_came_first
prefetch_stop:
	pop MPAGE
	ret

; CY = an EP1 OUT packet waits and EP1 IN holds one (bit 1 of OUT07IRQ and of IN1CS).
; Reads both registers through R0 (MPAGE is the register page) and puts R0 back onto the
; bus output register.
end_came_first:
	clr c
	mov r0,#<OUT07IRQ
	movx a,@r0
	jnb acc.1,end_checked
	mov r0,#<IN1CS
	movx a,@r0
	mov c,acc.1
end_checked:
	mov r0,_out_reg_ptr
	ret

; buffer_to_in1buf(): the stream buffer into IN1BUF, four bytes a turn.
_buffer_to_in1buf:
	push MPAGE
	mov MPAGE,#>IN1BUF
	mov r0,#<IN1BUF
	mov r1,#_stream_buffer
	mov r7,#(PACKET_SIZE / 4)
to_in1buf_next:
	.rept 4
	mov a,@r1
	movx @r0,a
	inc r0
	inc r1
	.endm
	djnz r7,to_in1buf_next
	pop MPAGE
	ret

; out1buf_to_buffer(count), count in DPL: OUT1BUF[0] .. OUT1BUF[count - 1] into the
; stream buffer. A count of 0 copies nothing.
_out1buf_to_buffer:
	mov a,dpl
	jz from_out1buf_done
	mov r7,a
	push MPAGE
	mov MPAGE,#>OUT1BUF
	mov r0,#<OUT1BUF
	mov r1,#_stream_buffer
from_out1buf_next:
	movx a,@r0
	mov @r1,a
	inc r0
	inc r1
	djnz r7,from_out1buf_next
	pop MPAGE
from_out1buf_done:
	ret
