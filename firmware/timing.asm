; Busy waits of the USB framework, written in assembly because their length
; is counted in instruction cycles.
	.module timing

	.globl _wait_1ms

	.area CSEG (CODE)

; One millisecond at 24 MHz: 603 turns of a 10-cycle loop that counts data
; pointer 0 up from 0xFDA5 until it wraps to 0.
_wait_1ms:
	mov 0x86,#0             ; DPS: data pointer 0
	mov dptr,#0xFDA5
wait_1ms_loop:
	inc dptr
	mov a,dpl
	orl a,dph
	jnz wait_1ms_loop
	ret
