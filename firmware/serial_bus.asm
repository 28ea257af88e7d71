; Serial engine: clocks bytes over the cartridge's save-memory bus. Every store is a
; whole-byte write of the bus output register, back to back, so the bus runs at the
; speed of this instruction sequence; written in assembly, with the eight bits of a
; byte unrolled, to keep that sequence short: streamed reads and writes spend most of
; their time here.
;
; Bus output register bits: 0x01 data to the memory, 0x02 clock, 0x04 deselect.
; Bus input register bit 0: data from the memory.
; Both registers lie in the register page 0x7F00-0x7FFF (the interpreter names them
; by their low byte), so MOVX @R0 (output) and MOVX @R1 (input) reach them through
; MPAGE, and the data pointer is free for the packet buffers.
; Only the EP1 handlers call these; like the C code, they may use A, B, DPTR, PSW
; and R0-R7 freely (the handlers save them).
	.module serial_bus

	.globl _out_reg_ptr
	.globl _in_reg_ptr
	.globl _bus_shift_out
	.globl _bus_shift_in
	.globl _bus_shift_out_bytes
	.globl _bus_shift_out_bytes_PARM_2
	.globl _bus_shift_in_packet

	MPAGE = 0x92            ; high address byte of MOVX @Ri
	OUT1BUF = 0x7E40
	IN1BUF = 0x7E80
	PACKET_SIZE = 64

	.area DSEG (DATA)
_bus_shift_out_bytes_PARM_2:
	.ds 1

	.area CSEG (CODE)

; MPAGE, R0 and R1 onto the two bus registers. The caller saves MPAGE first.
bus_registers:
	mov MPAGE,(_out_reg_ptr + 1)
	mov r0,_out_reg_ptr
	mov r1,_in_reg_ptr
	ret

; One bit out, the bit of B given: store 0x00 (clock low, data low, memory
; selected), store the bit, store the bit with the clock (the memory takes it).
	.macro OUT_BIT bit
	clr a
	movx @r0,a
	mov c,bit
	rlc a                   ; A = 0x00 or 0x01
	movx @r0,a
	orl a,#0x02
	movx @r0,a
	.endm

; One bit in, shifted into R6 from the right: store 0x02 (clock high, memory
; selected), sample bit 0 of the input register, store 0x00 (clock falls, the memory
; presents its next bit).
	.macro IN_BIT
	mov a,#0x02
	movx @r0,a
	movx a,@r1
	rrc a                   ; CY = data in
	mov a,r6
	rlc a
	mov r6,a
	clr a
	movx @r0,a
	.endm

; The byte in B out, most significant bit first; after the eighth bit: store 0x00.
; The memory is selected from the first store on and stays selected, clock low.
shift_out_b:
	OUT_BIT b.7
	OUT_BIT b.6
	OUT_BIT b.5
	OUT_BIT b.4
	OUT_BIT b.3
	OUT_BIT b.2
	OUT_BIT b.1
	OUT_BIT b.0
	clr a
	movx @r0,a
	ret

; Eight bits in, most significant first, into R6; after the eighth bit: store 0x00.
shift_in_r6:
	IN_BIT
	IN_BIT
	IN_BIT
	IN_BIT
	IN_BIT
	IN_BIT
	IN_BIT
	IN_BIT
	movx @r0,a              ; A is 0x00
	ret

; bus_shift_out(b), b in DPL.
_bus_shift_out:
	push MPAGE
	acall bus_registers
	mov b,dpl
	acall shift_out_b
	pop MPAGE
	ret

; bus_shift_in(), result in DPL.
_bus_shift_in:
	push MPAGE
	acall bus_registers
	acall shift_in_r6
	mov dpl,r6
	pop MPAGE
	ret

; bus_shift_out_bytes(first, count), first in DPL: the count bytes of OUT1BUF from
; position first on, each as bus_shift_out clocks it. A count of 0 clocks nothing.
_bus_shift_out_bytes:
	mov a,_bus_shift_out_bytes_PARM_2
	jz out_bytes_done
	mov r7,a
	push MPAGE
	acall bus_registers
	mov a,dpl
	add a,#<OUT1BUF
	mov dpl,a
	mov dph,#>OUT1BUF
out_bytes_next:
	movx a,@dptr
	inc dptr
	mov b,a
	acall shift_out_b
	djnz r7,out_bytes_next
	pop MPAGE
out_bytes_done:
	ret

; bus_shift_in_packet(): 64 bytes, each as bus_shift_in clocks it, into IN1BUF from
; position 0 on.
_bus_shift_in_packet:
	push MPAGE
	acall bus_registers
	mov dptr,#IN1BUF
	mov r7,#PACKET_SIZE
in_packet_next:
	acall shift_in_r6
	mov a,r6
	movx @dptr,a
	inc dptr
	djnz r7,in_packet_next
	pop MPAGE
	ret
