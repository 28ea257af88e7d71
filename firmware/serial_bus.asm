; Serial engine: clocks one byte over the cartridge's save-memory bus. Every store
; is a whole-byte write of the bus output register, back to back, so the bus runs at
; the speed of this instruction sequence; written in assembly to keep the register's
; address in the data pointer for all stores of a byte.
;
; Bus output register bits: 0x01 data to the memory, 0x02 clock, 0x04 deselect.
; Bus input register bit 0: data from the memory.
; Only the EP1 handlers call these; like the C code, they may use A, B, DPTR, PSW
; and R0-R7 freely (the handlers save them).
	.module serial_bus

	.globl _out_reg_ptr
	.globl _in_reg_ptr
	.globl _bus_shift_out
	.globl _bus_shift_in

	MPAGE = 0x92            ; high address byte of MOVX @Ri

	.area CSEG (CODE)

; bus_shift_out(b), b in DPL. Most significant bit first; per bit: store 0x00
; (clock low, data low, memory selected), store the bit, store the bit with the
; clock. After the eighth bit: store 0x00.
_bus_shift_out:
	mov r7,dpl
	mov dpl,_out_reg_ptr
	mov dph,(_out_reg_ptr + 1)
	mov r6,#8
shift_out_bit:
	clr a
	movx @dptr,a
	mov a,r7
	rlc a                   ; CY = next bit
	mov r7,a
	clr a
	rlc a                   ; A = 0x00 or 0x01
	movx @dptr,a
	orl a,#0x02
	movx @dptr,a
	djnz r6,shift_out_bit
	clr a
	movx @dptr,a
	ret

; bus_shift_in(), result in DPL. Most significant bit first; per bit: store 0x02
; (clock high, memory selected), sample bit 0 of the input register, store 0x00
; (clock falls, the memory presents its next bit). After the eighth bit: store 0x00.
_bus_shift_in:
	push MPAGE
	mov MPAGE,(_in_reg_ptr + 1)
	mov r1,_in_reg_ptr
	mov dpl,_out_reg_ptr
	mov dph,(_out_reg_ptr + 1)
	mov r7,#0
	mov r6,#8
shift_in_bit:
	mov a,#0x02
	movx @dptr,a
	movx a,@r1
	rrc a                   ; CY = data in
	mov a,r7
	rlc a
	mov r7,a
	clr a
	movx @dptr,a
	djnz r6,shift_in_bit
	movx @dptr,a
	mov dpl,r7
	pop MPAGE
	ret
